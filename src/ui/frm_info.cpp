#include "ui/frm_info.h"

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

#include "ui/app_icon.h"
#include "ui/help_texts.h"
#include "ui/help_widgets.h"
#include "ui/shell.h"
#include "ui/twips.h"

namespace strandlink::ui {

namespace {

// The two pictures beside the addresses: a globe by the web page, an envelope
// by the e-mail address.
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

QPixmap envelope(QSize size) {
  QPixmap pm(size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF body(2, size.height() * 0.2, size.width() - 4, size.height() * 0.6);
  p.setPen(QPen(QColor(0x1b, 0x4f, 0x7a), 1.5));
  p.setBrush(QColor(0xff, 0xf6, 0xd8));
  p.drawRect(body);
  QPainterPath flap(body.topLeft());
  flap.lineTo(body.center().x(), body.top() + body.height() * 0.6);
  flap.lineTo(body.topRight());
  p.setBrush(Qt::NoBrush);
  p.drawPath(flap);
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

frmInfo::frmInfo(std::shared_ptr<Shell> shell) : QWidget(nullptr, Qt::Window), shell_(std::move(shell)) {
  setObjectName(QStringLiteral("frmInfo"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Strandlink Information"));
  setWindowIcon(appIcon());
  setFixedSize(px(8280), px(6660));
  setFont(helpFont(8));
  buildControls();
  centreOnScreen(this);
}

void frmInfo::buildControls() {
  Frame1 = new QFrame(this);
  Frame1->setObjectName(QStringLiteral("Frame1"));
  Frame1->setGeometry(twipsRect(120, 60, 8055, 6555));
  Frame1->setFrameStyle(QFrame::Box | QFrame::Sunken);

  Text1 = new QPlainTextEdit(Frame1);
  Text1->setObjectName(QStringLiteral("Text1"));
  Text1->setGeometry(twipsRect(180, 240, 7695, 5115));
  Text1->setReadOnly(true);
  Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Text1->setTabChangesFocus(true);
  Text1->setPlainText(infoText());
  buttonFace(Text1);

  Command1 = new QPushButton(QStringLiteral("&OK"), Frame1);
  Command1->setObjectName(QStringLiteral("Command1"));
  Command1->setGeometry(twipsRect(180, 5640, 1155, 675));
  connect(Command1, &QPushButton::clicked, this, &frmInfo::Command1_Click);

  Image1[1] = new QLabel(Frame1);
  Image1[1]->setGeometry(twipsRect(1680, 5400, 540, 540));
  Image1[1]->setPixmap(globe(Image1[1]->size()));
  Image1[0] = new QLabel(Frame1);
  Image1[0]->setGeometry(twipsRect(1680, 6000, 525, 465));
  Image1[0]->setPixmap(envelope(Image1[0]->size()));

  Text2[1] = new QLineEdit(Frame1);
  Text2[1]->setGeometry(twipsRect(2340, 5460, 2655, 375));
  // The address with the line end it is stored with; the box shows one line.
  Text2[1]->setText(productWebsite() + QStringLiteral("\r\n"));
  Text2[1]->setToolTip(productWebsite());
  Text2[0] = new QLineEdit(Frame1);
  Text2[0]->setGeometry(twipsRect(2340, 6120, 1575, 255));
  Text2[0]->setText(makerEmail());
  // The box is small; the address is read whole or not at all.
  fitFont(Text2[0], makerEmail(), Text2[0]->width() - kLineEditPadding);

  Label3 = fittedLabel(Frame1, "Label3", twipsRect(5400, 5460, 2415, 255), animationCredit(), Qt::AlignLeft);
  noticeFrame(Frame1, twipsRect(6120, 5760, 1875, 735));

  for (int i = 0; i < 2; ++i) {
    Image1[std::size_t(i)]->setObjectName(QStringLiteral("Image1_%1").arg(i));
    Text2[std::size_t(i)]->setObjectName(QStringLiteral("Text2_%1").arg(i));
    QLineEdit* t = Text2[std::size_t(i)];
    t->setReadOnly(true);
    t->setAlignment(Qt::AlignCenter);
    // A long address shows its beginning.
    t->setCursorPosition(0);
    buttonFace(t);
  }
  // Everything that opens the web page says so with its pointer.
  for (QWidget* w : {static_cast<QWidget*>(Image1[0]), static_cast<QWidget*>(Image1[1]),
                     static_cast<QWidget*>(Text2[0]), static_cast<QWidget*>(Text2[1]),
                     static_cast<QWidget*>(Label3)}) {
    w->setCursor(Qt::PointingHandCursor);
    w->installEventFilter(this);
  }

  setTabOrder(Text1, Command1);
  setTabOrder(Command1, Text2[0]);
  setTabOrder(Text2[0], Text2[1]);
  Text1->setFocus();
}

// A click is a left button released over the control it went down on.
bool frmInfo::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const auto* w = static_cast<QWidget*>(watched);
    if (mouse->button() == Qt::LeftButton && w->rect().contains(mouse->position().toPoint())) {
      if (watched == Label3) Label3_Click();
      for (int i = 0; i < 2; ++i) {
        if (watched == Image1[std::size_t(i)]) Image1_Click(i);
        if (watched == Text2[std::size_t(i)]) Text2_Click(i);
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void frmInfo::Command1_Click() { close(); }

void frmInfo::Image1_Click(int) { ShellOpen(*shell_, this, productWebsite()); }

// Both texts open the web page, the e-mail address too: the page says how to write.
void frmInfo::Text2_Click(int) { ShellOpen(*shell_, this, productWebsite()); }

void frmInfo::Label3_Click() { ShellOpen(*shell_, this, artistWebsite()); }

}  // namespace strandlink::ui
