// A small picture of the link's last minute beside its figures: the round trip
// as a line, each second with losses as a red mark along the bottom. A click
// opens it large in a window of its own, which follows the same history.
#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

#include "ui/latency_history.h"

namespace strandlink::ui {

class LatencyPlot : public QWidget {
  Q_OBJECT
 public:
  explicit LatencyPlot(QWidget* parent);
  ~LatencyPlot() override;

  // Once a second while a session runs.
  void record(const protocol::LinkFigures& figures);
  void clear();
  const LatencyHistory& history() const { return *history_; }
  // The large copy, while it is open.
  LatencyPlot* enlarged() const { return enlarged_.data(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  LatencyPlot(std::shared_ptr<LatencyHistory> history, QWidget* parent);
  void refresh();

  std::shared_ptr<LatencyHistory> history_;
  QPointer<LatencyPlot> enlarged_;
};

}  // namespace strandlink::ui
