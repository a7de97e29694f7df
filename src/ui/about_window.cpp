#include "ui/about_window.h"

#include <QLabel>
#include <QPushButton>

#include "ui/help_widgets.h"
#include "ui/twips.h"
#include "version.h"

namespace strandlink::ui {

AboutWindow::AboutWindow() : HelpWindow("aboutWindow", QStringLiteral("About Strandlink"), 3885, 1770) {
  title_ = fittedLabel(this, "title", twipsRect(240, 240, 3375, 615), QString::fromLatin1(kProgramTitle),
                       Qt::AlignHCenter | Qt::AlignTop, 13.5);
  noticeFrame(this, twipsRect(240, 840, 1755, 735));

  okButton_ = new QPushButton(QStringLiteral("&OK"), this);
  okButton_->setObjectName(QStringLiteral("okButton"));
  okButton_->setGeometry(twipsRect(2280, 960, 1335, 615));
  okButton_->setDefault(true);
  connect(okButton_, &QPushButton::clicked, this, &QWidget::close);
  okButton_->setFocus();
}

}  // namespace strandlink::ui
