// The information window: what Strandlink is, its terms, and the ways to reach
// its makers. Modeless and without an owner; closing it (OK or the close box)
// deletes it, and the next Help > Info builds a new one.
#pragma once

#include <QWidget>

#include <array>
#include <memory>

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace strandlink::ui {

class Shell;

class frmInfo : public QWidget {
  Q_OBJECT
 public:
  // Every click target asks shell to open its address on behalf of this window.
  explicit frmInfo(std::shared_ptr<Shell> shell);

  void Command1_Click();
  void Image1_Click(int index);
  void Text2_Click(int index);
  void Label3_Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();

  std::shared_ptr<Shell> shell_;
  QFrame* Frame1 = nullptr;
  QPlainTextEdit* Text1 = nullptr;
  QPushButton* Command1 = nullptr;
  std::array<QLabel*, 2> Image1{};
  std::array<QLineEdit*, 2> Text2{};
  QLabel* Label3 = nullptr;
};

}  // namespace strandlink::ui
