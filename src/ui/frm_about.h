// The about box: the program's name and version and the maker's notice.
// Modeless and without an owner; closing it deletes it.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace strandlink::ui {

class frmAbout : public QWidget {
  Q_OBJECT
 public:
  frmAbout();

  void cmdOK_Click();

 private:
  QLabel* Label3 = nullptr;
  QPushButton* cmdOK = nullptr;
};

}  // namespace strandlink::ui
