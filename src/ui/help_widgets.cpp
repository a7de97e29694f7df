#include "ui/help_widgets.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>

#include "ui/app_icon.h"
#include "ui/help_texts.h"
#include "ui/twips.h"

namespace strandlink::ui {

QFont helpFont(double points) {
  QFont f = QApplication::font();
  f.setPointSizeF(points);
  return f;
}

void fitFont(QWidget* w, const QString& text, int room, double smallest) {
  QFont f = w->font();
  const double floor = smallest > 0 ? smallest : f.pointSizeF() - 1.0;
  while (f.pointSizeF() > floor && QFontMetricsF(f).horizontalAdvance(text) > room) {
    f.setPointSizeF(f.pointSizeF() - 0.25);
  }
  w->setFont(f);
}

QLabel* fittedLabel(QWidget* parent, const char* name, QRect geometry, const QString& text, Qt::Alignment alignment,
                    double points) {
  auto* l = new QLabel(parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setGeometry(geometry);
  l->setTextFormat(Qt::PlainText);
  l->setText(text);
  l->setAlignment(alignment);
  l->setFont(helpFont(points));
  // A few pixels of room: QLabel adds a margin of its own on some styles.
  fitFont(l, text, geometry.width() - 2);
  return l;
}

QFrame* noticeFrame(QWidget* parent, QRect geometry) {
  auto* frame = new QFrame(parent);
  frame->setObjectName(QStringLiteral("noticeFrame"));
  frame->setGeometry(geometry);
  frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
  const QStringList lines = makerNotice();
  const int w = geometry.width() - 8;
  const int h = (geometry.height() - 8) / 2;
  fittedLabel(frame, "noticeFirstLine", QRect(4, 4, w, h), lines.value(0), Qt::AlignCenter);
  fittedLabel(frame, "noticeSecondLine", QRect(4, 4 + h, w, h), lines.value(1), Qt::AlignCenter);
  return frame;
}

void centreOnScreen(QWidget* window) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
  }
}

HelpWindow::HelpWindow(const char* name, const QString& title, int widthTwips, int heightTwips)
    : QWidget(nullptr, Qt::Window) {
  setObjectName(QString::fromLatin1(name));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(title);
  setWindowIcon(appIcon());
  setFixedSize(px(widthTwips), px(heightTwips));
  setFont(helpFont(8));
}

void HelpWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace strandlink::ui
