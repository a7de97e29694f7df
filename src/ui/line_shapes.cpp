#include "ui/line_shapes.h"

#include <QEvent>
#include <QPainter>

#include "ui/twips.h"

namespace strandlink::ui {

LineShapes::LineShapes(QWidget* frame) : QWidget(frame) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setGeometry(frame->rect());
  lower();
  // The frame's size is set after its children are made; follow it.
  frame->installEventFilter(this);
}

void LineShapes::addLine(const QString& name, int x1, int y1, int x2, int y2, bool visible) {
  segments_.push_back({name, QLine(px(x1), px(y1), px(x2), px(y2)), visible});
  update();
}

void LineShapes::setLineVisible(const QString& name, bool visible) {
  for (auto& s : segments_) {
    if (s.name == name && s.visible != visible) {
      s.visible = visible;
      update();
    }
  }
}

const LineShapes::Segment* LineShapes::find(const QString& name) const {
  for (const auto& s : segments_) {
    if (s.name == name) return &s;
  }
  return nullptr;
}

bool LineShapes::isLineVisible(const QString& name) const {
  const Segment* s = find(name);
  return s != nullptr && s->visible;
}

bool LineShapes::hasLine(const QString& name) const { return find(name) != nullptr; }

QLine LineShapes::linePixels(const QString& name) const {
  const Segment* s = find(name);
  return s != nullptr ? s->pixels : QLine();
}

void LineShapes::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
  for (const auto& s : segments_) {
    if (s.visible) painter.drawLine(s.pixels);
  }
}

bool LineShapes::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
  return false;
}

}  // namespace strandlink::ui
