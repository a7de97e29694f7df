// The signal-flow diagram: straight line segments drawn on a frame's surface,
// beneath the frame's controls, each one shown or hidden on its own.
#pragma once

#include <QLine>
#include <QString>
#include <QWidget>

#include <vector>

namespace strandlink::ui {

class LineShapes : public QWidget {
  Q_OBJECT
 public:
  // Covers the whole frame and stays below its other children; mouse events pass
  // through to whatever lies under a line.
  explicit LineShapes(QWidget* frame);

  // Coordinates in twips relative to the frame, as the layout gives them.
  void addLine(const QString& name, int x1, int y1, int x2, int y2, bool visible);
  void setLineVisible(const QString& name, bool visible);
  // False for a name that is not one of this frame's lines.
  bool isLineVisible(const QString& name) const;
  bool hasLine(const QString& name) const;
  // The segment in pixels; a null line for an unknown name.
  QLine linePixels(const QString& name) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Segment {
    QString name;
    QLine pixels;
    bool visible;
  };
  const Segment* find(const QString& name) const;
  std::vector<Segment> segments_;
};

}  // namespace strandlink::ui
