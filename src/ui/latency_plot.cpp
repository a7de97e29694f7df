#include "ui/latency_plot.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

#include "ui/tool_tips.h"

namespace strandlink::ui {

namespace {

// The scale's top: the next of 1, 2, 5, 10, 20 ... ms above the highest value, so
// that the line does not jump with every new peak.
double scaleTop(double highest) {
  double top = 1;
  for (int step = 0; top < highest; ++step) top *= step % 3 == 1 ? 2.5 : 2;
  return top;
}

QString millis(double ms) { return QString::number(ms, 'f', ms < 10 ? 1 : 0) + QStringLiteral(" ms"); }

QString amount(PlotQuantity q, double value) {
  return q == PlotQuantity::RoundTripMs ? millis(value) : QString::number(value, 'f', 0) + QStringLiteral(" msg/s");
}

// What the newest sample says, in the plot's corner and its tooltip.
QString latestText(const LatencyHistory& h) {
  if (const auto v = h.latest()) return amount(h.quantity(), *v);
  return h.size() == 0 ? QString() : QStringLiteral("no answer");
}

}  // namespace

LatencyPlot::LatencyPlot(QWidget* parent) : LatencyPlot(std::make_shared<LatencyHistory>(), parent) {}

LatencyPlot::LatencyPlot(std::shared_ptr<LatencyHistory> history, QWidget* parent)
    : QWidget(parent), history_(std::move(history)) {
  setCursor(Qt::PointingHandCursor);
  refresh();
}

LatencyPlot::~LatencyPlot() { delete enlarged_.data(); }

void LatencyPlot::record(const protocol::LinkFigures& figures) {
  history_->record(figures);
  refresh();
}

void LatencyPlot::clear() {
  history_->clear();
  refresh();
}

void LatencyPlot::refresh() {
  const LatencyHistory& h = *history_;
  const bool group = h.quantity() == PlotQuantity::MessagesHeard;
  const QString over = group ? QStringLiteral(
                                   "Messages heard from the group each second over the last minute: now "
                                   "%1, at most %2; %3 dropped. A click shows it large.")
                             : QStringLiteral(
                                   "Round trip over the last minute: now %1, at most %2; "
                                   "%3 lost. A click shows it large.");
  setToolTip(h.size() == 0 ? QStringLiteral("The round trip and the losses of the last minute, once a session runs")
                           : wrappedToolTip(over.arg(latestText(h), amount(h.quantity(), h.highest())).arg(h.lost())));
  if (isWindow())
    setWindowTitle(group ? QStringLiteral("Messages heard and dropped, last minute")
                         : QStringLiteral("Round trip and losses, last minute"));
  update();
  if (enlarged_) enlarged_->refresh();
}

void LatencyPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF all = rect();
  painter.fillRect(all, QColor(0x1e, 0x24, 0x2b));
  QFont small = font();
  small.setPointSizeF(std::max(6.0, height() / 12.0));
  painter.setFont(small);
  const double text = QFontMetricsF(small).height();
  // The plot under a line of text, a loss mark's height above the bottom.
  const double mark = std::max(3.0, height() / 20.0);
  const QRectF area = all.adjusted(2, text + 1, -2, -mark - 2);
  const LatencyHistory& h = *history_;
  const double top = scaleTop(h.highest());
  const double step = area.width() / double(LatencyHistory::kSeconds - 1);
  // Right-aligned: the newest second is always at the right edge.
  const auto x = [&](std::size_t i) { return area.right() - double(h.size() - 1 - i) * step; };

  painter.setPen(QColor(0x44, 0x4c, 0x56));
  painter.drawLine(area.topLeft(), area.topRight());
  painter.drawLine(area.bottomLeft(), area.bottomRight());
  QPainterPath line;
  bool drawing = false;
  for (std::size_t i = 0; i < h.size(); ++i) {
    const LatencySample& s = h.at(i);
    if (s.lost > 0)
      painter.fillRect(QRectF(x(i) - step / 2, all.bottom() - mark, std::max(step, 2.0), mark),
                       QColor(0xe5, 0x39, 0x35));
    if (!s.value) {
      drawing = false;  // no answer: a gap in the line
      continue;
    }
    const QPointF p(x(i), area.bottom() - std::min(*s.value / top, 1.0) * area.height());
    if (drawing) line.lineTo(p);
    else line.moveTo(p);
    drawing = true;
  }
  painter.setPen(QPen(QColor(0x66, 0xbb, 0x6a), std::max(1.5, height() / 60.0)));
  painter.drawPath(line);

  painter.setPen(QColor(0xdd, 0xdd, 0xdd));
  painter.drawText(QRectF(2, 0, all.width() - 4, text), Qt::AlignLeft | Qt::AlignVCenter, latestText(h));
  painter.setPen(QColor(0x99, 0x99, 0x99));
  painter.drawText(QRectF(2, 0, all.width() - 4, text), Qt::AlignRight | Qt::AlignVCenter, amount(h.quantity(), top));
}

void LatencyPlot::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (isWindow()) {
    close();
    return;
  }
  if (enlarged_) {
    enlarged_->raise();
    return;
  }
  enlarged_ = new LatencyPlot(history_, nullptr);
  enlarged_->setAttribute(Qt::WA_DeleteOnClose);
  enlarged_->setWindowFlags(Qt::Tool);
  enlarged_->resize(640, 280);
  enlarged_->move(mapToGlobal(QPoint(width() - enlarged_->width(), height() + 4)));
  enlarged_->show();
}

}  // namespace strandlink::ui
