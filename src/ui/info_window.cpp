#include "ui/info_window.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <cmath>

#include "ui/help_texts.h"
#include "ui/help_widgets.h"
#include "ui/shell.h"
#include "ui/twips.h"

namespace strandlink::ui {

namespace {

// The picture beside the address.
QPixmap globe(QSize size) {
  QPixmap pm(size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const double d = std::min(size.width(), size.height()) - 4;
  const QRectF ball(QPointF((size.width() - d) / 2, (size.height() - d) / 2), QSizeF(d, d));
  p.setPen(QPen(QColor(0x1b, 0x4f, 0x7a), 1.5));
  p.setBrush(QColor(0x3a, 0x9a, 0xd9));
  p.drawEllipse(ball);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0xe2, 0xf4, 0xff), 1.2));
  p.drawEllipse(ball.adjusted(d * 0.3, 0, -d * 0.3, 0));
  p.drawLine(QPointF(ball.center().x(), ball.top()), QPointF(ball.center().x(), ball.bottom()));
  p.drawLine(QPointF(ball.left(), ball.center().y()), QPointF(ball.right(), ball.center().y()));
  for (const double f : {0.25, 0.75}) {
    const double y = ball.top() + d * f;
    const double half = d / 2 * std::sqrt(1 - (2 * f - 1) * (2 * f - 1));
    p.drawLine(QPointF(ball.center().x() - half, y), QPointF(ball.center().x() + half, y));
  }
  return pm;
}

// What a one-line box's frame and margins take of its width.
constexpr int kLineEditPadding = 10;

// A read-only box on the button-face colour, as the window's text boxes are.
void buttonFace(QWidget* w) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Base, pal.color(QPalette::Button));
  w->setPalette(pal);
}

}  // namespace

InfoWindow::InfoWindow(std::shared_ptr<Shell> shell)
    : HelpWindow("infoWindow", QStringLiteral("Strandlink Information"), 8280, 6660), shell_(std::move(shell)) {
  buildControls();
  centreOnScreen(this);
}

void InfoWindow::buildControls() {
  auto* frame = new QFrame(this);
  frame->setGeometry(twipsRect(120, 60, 8055, 6555));
  frame->setFrameStyle(QFrame::Box | QFrame::Sunken);

  text_ = new QPlainTextEdit(frame);
  text_->setObjectName(QStringLiteral("infoText"));
  text_->setGeometry(twipsRect(180, 240, 7695, 5115));
  text_->setReadOnly(true);
  text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text_->setTabChangesFocus(true);
  text_->setPlainText(infoText());
  buttonFace(text_);

  okButton_ = new QPushButton(QStringLiteral("&OK"), frame);
  okButton_->setObjectName(QStringLiteral("okButton"));
  okButton_->setGeometry(twipsRect(180, 5640, 1155, 675));
  connect(okButton_, &QPushButton::clicked, this, &QWidget::close);

  buildAddress(frame);
  // The row below the address holds the credit: there is no e-mail address to give.
  credit_ = fittedLabel(frame, "credit", twipsRect(2340, 6120, 3660, 255), animationCredit(), Qt::AlignLeft);
  noticeFrame(frame, twipsRect(6120, 5760, 1875, 735));

  // Everything that opens a page says so with its pointer.
  for (QWidget* w :
       {static_cast<QWidget*>(globe_), static_cast<QWidget*>(websiteBox_), static_cast<QWidget*>(credit_)}) {
    w->setCursor(Qt::PointingHandCursor);
    w->installEventFilter(this);
  }
  setTabOrder(text_, okButton_);
  setTabOrder(okButton_, websiteBox_);
  text_->setFocus();
}

// The web page (or the guide, when there is none), whole, with its picture.
void InfoWindow::buildAddress(QFrame* frame) {
  globe_ = new QLabel(frame);
  globe_->setObjectName(QStringLiteral("globe"));
  globe_->setGeometry(twipsRect(1680, 5400, 540, 540));
  globe_->setPixmap(globe(globe_->size()));

  // As wide as the frame allows above the notice, so that an address is read whole.
  websiteBox_ = new QLineEdit(frame);
  websiteBox_->setObjectName(QStringLiteral("websiteBox"));
  websiteBox_->setGeometry(twipsRect(2340, 5400, 5535, 345));
  websiteBox_->setText(productWebsiteText());
  websiteBox_->setToolTip(productWebsiteText());
  fitFont(websiteBox_, productWebsiteText(), websiteBox_->width() - kLineEditPadding);
  websiteBox_->setReadOnly(true);
  websiteBox_->setCursorPosition(0);
  buttonFace(websiteBox_);
}

// A click is a left button released over the control it went down on. The
// picture and the address open the web page; the credit opens the artist's page.
bool InfoWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const auto* w = static_cast<QWidget*>(watched);
    if (mouse->button() == Qt::LeftButton && w->rect().contains(mouse->position().toPoint())) {
      ShellOpen(*shell_, this, watched == credit_ ? artistWebsite() : productWebsite());
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace strandlink::ui
