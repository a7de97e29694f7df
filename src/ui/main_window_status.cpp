// What the window says of a running session without a box: the status line, the
// banner of reports, the lines of what came back, and the latency plot. A report
// of the session waits for nobody, so Panic and Stop work whatever it says.
#include <QLabel>
#include <QPlainTextEdit>

#include <utility>

#include "ui/chat_history.h"
#include "ui/latency_plot.h"
#include "ui/main_window.h"
#include "ui/qt_message_boxes.h"
#include "ui/session_reports.h"
#include "ui/twips.h"

namespace strandlink::ui {

// The boxes given (tests record them), or the window's own; a session's go to the banner.
report::MessageBoxes& MainWindow::sessionBoxes(report::MessageBoxes* given) {
  if (given == nullptr) {
    ownBoxes_ = std::make_unique<QtMessageBoxes>(this);
    given = ownBoxes_.get();
  }
  reports_ = std::make_unique<SessionReports>(*given);
  return *reports_;
}

// The plot and the banner take the animation's place while a session runs: its
// picture stands still then, and nothing of it can be clicked.
void MainWindow::buildSessionView(QWidget* client) {
  plot_ = new LatencyPlot(client);
  plot_->setObjectName(QStringLiteral("latencyPlot"));
  plot_->setGeometry(twipsRect(7680, 240, 1875, 1080));
  plot_->hide();
  plotTimer_ = new QTimer(this);
  plotTimer_->setInterval(1000);
  connect(plotTimer_, &QTimer::timeout, this, [this] { plot_->record(link_.figures()); });
  banner_ = new ReportBanner(client);
  banner_->setGeometry(twipsRect(7680, 1380, 1875, 1350));
  reports_->attach(
      banner_, [this] { return link_.running(); }, [this](const QString& line) { showNotice(line); });
  statusFont_ = statusLabel_->font();
}

void MainWindow::showSessionView(bool running) {
  plot_->setVisible(running);
  if (running) {
    plot_->clear();
    banner_->clear();
    plotTimer_->start();
  } else {
    plotTimer_->stop();
    // Nothing is followed any more: what a check found is no news now.
    banner_->clearPosted();
    shownMissing_ = {};
  }
  showStatus();
}

// The figures are worded afresh with every change of the state, so that the line
// and the figures beside it never tell two stories.
void MainWindow::showStatus() {
  const link::LinkState state = link_.state();
  if (state.running) sayReturns(state.missing);
  const QString figures = state.running ? link_.figuresText() : QString();
  showStatusLine(*statusLabel_, statusFont_, link::statusWords(state), figures);
  figuresLabel_->setToolTip(figures.isEmpty() ? QString() : statusLabel_->toolTip());
  figuresLabel_->setText(figures.isEmpty() ? QString() : link_.figuresSummary());
}

// A device that was missing and plays again: a line in the history, and its
// report goes from the banner. The service's return has its own line.
void MainWindow::sayReturns(link::Missing now) {
  const link::Missing before = std::exchange(shownMissing_, now);
  if (now.service) return;
  const settings::RememberedPorts ports = link_.sessionPorts();
  const auto back = [&](bool was, bool is, const QString& device) {
    if (!was || is) return;
    showNotice(device + QStringLiteral(" is back and plays again"));
    banner_->clearPosted(device.left(device.indexOf(u':') + 1));
  };
  back(before.input, now.input, QStringLiteral("Midi Input: ") + link_.devices().inputName(ports.input.position));
  back(before.output, now.output, QStringLiteral("Midi Output: ") + link_.devices().outputName(ports.output.position));
  if (!now.any()) banner_->clearPosted();
}

}  // namespace strandlink::ui
