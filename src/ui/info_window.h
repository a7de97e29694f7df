// The information window: what Strandlink is, its terms, and where its user
// guide and (when there is one) its project page are. Modeless and without an
// owner; closing it (OK, Escape or the close box) deletes it, and the next
// Help > Info builds a new one.
#pragma once

#include "ui/help_widgets.h"

#include <array>
#include <memory>

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace strandlink::ui {

class Shell;

class InfoWindow : public HelpWindow {
  Q_OBJECT
 public:
  // Every click target asks shell to open its address on behalf of this window.
  explicit InfoWindow(std::shared_ptr<Shell> shell);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void buildAddress(QFrame* frame);

  std::shared_ptr<Shell> shell_;
  QPlainTextEdit* text_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QLabel* globe_ = nullptr;
  QLineEdit* websiteBox_ = nullptr;
  QLabel* credit_ = nullptr;
};

}  // namespace strandlink::ui
