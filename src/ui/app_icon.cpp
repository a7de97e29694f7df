#include "ui/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace strandlink::ui {

namespace {

// Colours and shapes as in the SVG file; coordinates in a 256 x 256 square.
const QColor kSky(0x3a, 0x9a, 0xd9);
const QColor kSun(0xff, 0xd5, 0x4a);
const QColor kSea(0x1f, 0x5f, 0x99);
const QColor kSand(0xf0, 0xcf, 0x7c);
const QColor kTrunk(0x8a, 0x5a, 0x2b);
const QColor kLeaf(0x2e, 0x9d, 0x4a);
const QColor kNote(0xff, 0xff, 0xff);
const QColor kRim(0x1b, 0x4f, 0x7a);

struct Leaf {
  QPointF c1, c2, tip, c3, c4;  // from the crown out to the tip and back
};

constexpr QPointF kCrown(110, 100);
const Leaf kLeaves[] = {
    {{85, 76}, {57, 76}, {35, 96}, {61, 88}, {85, 92}},
    {{93, 66}, {69, 56}, {49, 58}, {73, 70}, {91, 84}},
    {{117, 66}, {141, 54}, {165, 60}, {141, 70}, {125, 84}},
    {{139, 84}, {169, 92}, {183, 118}, {161, 104}, {137, 100}},
    {{97, 112}, {83, 132}, {79, 156}, {91, 134}, {101, 118}},
    {{129, 112}, {143, 130}, {147, 152}, {135, 132}, {123, 116}},
};

QPainterPath leafPath(const Leaf& l) {
  QPainterPath p(kCrown);
  p.cubicTo(l.c1, l.c2, l.tip);
  p.cubicTo(l.c3, l.c4, kCrown);
  p.closeSubpath();
  return p;
}

QPainterPath trunkPath() {
  QPainterPath p(QPointF(92, 198));
  p.cubicTo(QPointF(98, 160), QPointF(100, 130), QPointF(104, 102));
  p.lineTo(116, 104);
  p.cubicTo(QPointF(112, 132), QPointF(112, 164), QPointF(116, 198));
  p.closeSubpath();
  return p;
}

void noteHead(QPainter& p, QPointF centre) {
  p.save();
  p.translate(centre);
  p.rotate(-20);
  p.drawEllipse(QPointF(0, 0), 13, 9);
  p.restore();
}

}  // namespace

void paintAppIcon(QPainter& p, const QRectF& target) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(target.topLeft());
  p.scale(target.width() / 256.0, target.height() / 256.0);
  p.setPen(Qt::NoPen);

  QPainterPath frame;
  frame.addRoundedRect(QRectF(16, 16, 224, 224), 40, 40);
  p.setClipPath(frame);

  p.fillRect(QRectF(16, 16, 224, 224), kSky);
  p.setBrush(kSun);
  p.drawEllipse(QPointF(188, 150), 22, 22);
  p.fillRect(QRectF(16, 186, 224, 54), kSea);
  p.setBrush(kSand);
  p.drawEllipse(QPointF(104, 198), 70, 20);
  p.setBrush(kTrunk);
  p.drawPath(trunkPath());
  p.setBrush(kLeaf);
  for (const Leaf& l : kLeaves) p.drawPath(leafPath(l));

  // Two beamed eighth notes: the music that travels.
  p.setBrush(kNote);
  noteHead(p, QPointF(170, 80));
  noteHead(p, QPointF(206, 72));
  p.drawRect(QRectF(180, 34, 6, 46));
  p.drawRect(QRectF(216, 26, 6, 46));
  QPainterPath beam(QPointF(180, 34));
  beam.lineTo(222, 26);
  beam.lineTo(222, 40);
  beam.lineTo(180, 48);
  beam.closeSubpath();
  p.drawPath(beam);

  p.setClipping(false);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kRim, 6));
  p.drawPath(frame);
  p.restore();
}

QImage renderAppIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  paintAppIcon(p, QRectF(0, 0, size, size));
  p.end();
  return image;
}

QIcon appIcon() {
  QIcon icon;
  for (const int size : kIconSizes) icon.addPixmap(QPixmap::fromImage(renderAppIcon(size)));
  return icon;
}

}  // namespace strandlink::ui
