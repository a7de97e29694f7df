#include "ui/activity_light.h"

#include <QPainter>

namespace strandlink::ui {

ActivityLight::ActivityLight(QWidget* parent) : QWidget(parent) {
  darkTimer_.setSingleShot(true);
  darkTimer_.setInterval(kLitMs);
  connect(&darkTimer_, &QTimer::timeout, this, [this] { setLit(false); });
}

void ActivityLight::flash() {
  setLit(true);
  darkTimer_.start();
}

void ActivityLight::putOut() {
  darkTimer_.stop();
  setLit(false);
}

void ActivityLight::setLit(bool lit) {
  if (lit == lit_) return;
  lit_ = lit;
  update();
  emit litChanged(lit);
}

void ActivityLight::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal d = qMin(width(), height()) - 2;
  const QRectF lamp((width() - d) / 2, (height() - d) / 2, d, d);
  p.setPen(QPen(QColor(0x2b, 0x3a, 0x2b), 1));
  p.setBrush(lit_ ? QColor(0x3c, 0xe6, 0x3c) : QColor(0x2f, 0x4f, 0x2f));
  p.drawEllipse(lamp);
}

}  // namespace strandlink::ui
