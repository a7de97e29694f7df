// The about box: the program's name and version and the maker's notice.
// Modeless and without an owner; closing it deletes it.
#pragma once

#include "ui/help_widgets.h"

class QLabel;
class QPushButton;

namespace strandlink::ui {

class AboutWindow : public HelpWindow {
  Q_OBJECT
 public:
  AboutWindow();

 private:
  QLabel* title_ = nullptr;
  QPushButton* okButton_ = nullptr;
};

}  // namespace strandlink::ui
