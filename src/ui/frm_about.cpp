#include "ui/frm_about.h"

#include <QLabel>
#include <QPushButton>

#include "ui/app_icon.h"
#include "ui/help_widgets.h"
#include "ui/twips.h"

namespace strandlink::ui {

frmAbout::frmAbout() : QWidget(nullptr, Qt::Window) {
  setObjectName(QStringLiteral("frmAbout"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("About Strandlink"));
  setWindowIcon(appIcon());
  setFixedSize(px(3885), px(1770));
  setFont(helpFont(8));

  Label3 = fittedLabel(this, "Label3", twipsRect(240, 240, 3375, 615), QStringLiteral("Strandlink 1.0"),
                       Qt::AlignHCenter | Qt::AlignTop, 13.5);
  noticeFrame(this, twipsRect(240, 840, 1755, 735));

  cmdOK = new QPushButton(QStringLiteral("&OK"), this);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setGeometry(twipsRect(2280, 960, 1335, 615));
  cmdOK->setDefault(true);
  connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
  cmdOK->setFocus();
}

void frmAbout::cmdOK_Click() { close(); }

}  // namespace strandlink::ui
