#include "ui/animation_frames.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

namespace strandlink::ui {

namespace {

constexpr double kHorizon = 112;
const QPointF kBase(46, 124);  // where the trunk leaves the sand
constexpr double kCrownHeight = 80;
constexpr double kLean = 13;      // pixels the crown moves at full sway
constexpr double kLeafTurn = 14;  // degrees the fronds turn at full sway

void paintBackground(QPainter& p) {
  QLinearGradient sky(0, 0, 0, kHorizon);
  sky.setColorAt(0, QColor(0x8c, 0xc8, 0xf0));
  sky.setColorAt(1, QColor(0xe2, 0xf4, 0xff));
  p.fillRect(QRectF(0, 0, kFrameWidth, kHorizon), sky);
  p.setBrush(QColor(0xff, 0xd5, 0x4a));
  p.drawEllipse(QPointF(80, 24), 10, 10);

  p.fillRect(QRectF(0, kHorizon, kFrameWidth, kFrameHeight - kHorizon), QColor(0x2f, 0x78, 0xb8));
  p.setPen(QPen(QColor(0x9c, 0xcf, 0xf2), 1.2));
  p.setBrush(Qt::NoBrush);
  for (const double y : {kHorizon + 26, kHorizon + 33}) {
    QPainterPath wave(QPointF(4, y));
    for (double x = 4; x < 96; x += 12) wave.quadTo(x + 3, y - 2, x + 6, y), wave.quadTo(x + 9, y + 2, x + 12, y);
    p.drawPath(wave);
  }
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xf0, 0xcf, 0x7c));
  p.drawEllipse(QPointF(48, 126), 38, 10);
}

// The trunk bends more the further the crown leans: a curve from the base whose
// control point stays above the base.
QPointF crownOf(double sway) { return kBase + QPointF(kLean * sway + 4, -kCrownHeight + 2 * std::abs(sway)); }

void paintTrunk(QPainter& p, QPointF crown) {
  const QPointF control(kBase.x() + 2, kBase.y() - kCrownHeight * 0.55);
  QPainterPath trunk(kBase);
  trunk.quadTo(control, crown);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0x8a, 0x5a, 0x2b), 6, Qt::SolidLine, Qt::RoundCap));
  p.drawPath(trunk);
  // Rings on the bark.
  p.setPen(QPen(QColor(0x5e, 0x3b, 0x1a), 1));
  for (double t = 0.12; t < 0.95; t += 0.11) {
    const QPointF at = trunk.pointAtPercent(t);
    p.drawLine(at + QPointF(-3, 0), at + QPointF(3, -1));
  }
  p.setPen(Qt::NoPen);
}

// A frond from the crown: its angle (0 points right, positive turns down), its
// length and how far its tip droops.
void paintFrond(QPainter& p, QPointF crown, double degrees, double length, double droop) {
  p.save();
  p.translate(crown);
  p.rotate(degrees);
  QPainterPath leaf(QPointF(0, 0));
  leaf.quadTo(length * 0.5, -7 + droop * 0.3, length, droop);
  leaf.quadTo(length * 0.45, 3 + droop * 0.5, 0, 0);
  p.drawPath(leaf);
  p.restore();
}

}  // namespace

double swayOf(int index) { return std::sin(2 * std::numbers::pi * index / kAnimationFrames); }

QImage animationFrame(int index) {
  QImage image(kFrameWidth, kFrameHeight, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  paintBackground(p);

  const double sway = swayOf(index);
  const QPointF crown = crownOf(sway);
  paintTrunk(p, crown);

  // The fronds follow the trunk an eighth of a cycle late, as leaves in the wind
  // do; so the way back never repeats a picture of the way there.
  const double lagged = swayOf(index - 1);
  const double turn = kLeafTurn * lagged;
  struct Frond {
    double degrees, length, droop;
  };
  const Frond fronds[] = {{-165, 30, 9}, {-130, 26, 6}, {-75, 20, 4}, {-40, 27, 7},
                          {-5, 31, 10},  {150, 22, 8},  {35, 22, 8}};
  p.setBrush(QColor(0x2e, 0x9d, 0x4a));
  for (const Frond& f : fronds) {
    const double stretch = 1 + 0.12 * lagged * std::cos(f.degrees * std::numbers::pi / 180);
    paintFrond(p, crown, f.degrees + turn, f.length * stretch, f.droop);
  }
  p.setBrush(QColor(0x23, 0x7a, 0x39));
  paintFrond(p, crown, -100 + turn, 18, 3);

  // Coconuts under the crown.
  p.setBrush(QColor(0x6b, 0x45, 0x1e));
  p.drawEllipse(crown + QPointF(-2.5, 3.5), 2.6, 2.6);
  p.drawEllipse(crown + QPointF(2.5, 4), 2.6, 2.6);
  p.end();
  return image;
}

}  // namespace strandlink::ui
