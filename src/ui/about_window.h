// The about box: the program's name and version and the maker's notice.
// Modeless and without an owner; closing it deletes it.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace strandlink::ui {

class AboutWindow : public QWidget {
  Q_OBJECT
 public:
  AboutWindow();

 protected:
  // Escape closes it, as OK does.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QLabel* title_ = nullptr;
  QPushButton* okButton_ = nullptr;
};

}  // namespace strandlink::ui
