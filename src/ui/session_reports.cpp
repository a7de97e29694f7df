#include "ui/session_reports.h"

#include <QMouseEvent>

#include <utility>

#include "ui/status_line.h"
#include "ui/tool_tips.h"

namespace strandlink::ui {

ReportBanner::ReportBanner(QWidget* parent) : QLabel(parent) {
  setObjectName(QStringLiteral("reportBanner"));
  // Device names and received text are shown as they are, never as markup.
  setTextFormat(Qt::PlainText);
  setWordWrap(true);
  setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setMargin(3);
  setAutoFillBackground(true);
  QPalette p = palette();
  p.setColor(QPalette::Window, kWarningColour);
  p.setColor(QPalette::WindowText, Qt::black);
  setPalette(p);
  setFrameShape(QFrame::Box);
  hide();
}

void ReportBanner::say(const QString& title, const QString& text, bool posted) {
  posted_ = posted;
  setText(text);
  setToolTip(wrappedToolTip(title + QStringLiteral(": ") + text + QStringLiteral(" (a click puts it away)")));
  show();
  raise();
}

void ReportBanner::clear() {
  QLabel::clear();
  setToolTip({});
  hide();
}

void ReportBanner::clearPosted(const QString& start) {
  if (posted_ && isVisible() && text().startsWith(start)) clear();
}

void ReportBanner::mousePressEvent(QMouseEvent* event) {
  clear();
  event->accept();
}

void SessionReports::attach(ReportBanner* banner, std::function<bool()> inSession,
                            std::function<void(const QString&)> back) {
  banner_ = banner;
  inSession_ = std::move(inSession);
  back_ = std::move(back);
}

// The answer of a box nobody waits for is OK.
int SessionReports::show(report::BoxIcon icon, const QString& title, const QString& text) {
  if (!banner_ || !inSession_()) return outside_.show(icon, title, text);
  banner_->say(title, text, false);
  return 1;
}

// A check's news: what is wrong in the banner, what came back in the history.
void SessionReports::post(report::BoxIcon icon, const QString& title, const QString& text) {
  if (!banner_) return outside_.post(icon, title, text);
  if (icon != report::BoxIcon::Information) return banner_->say(title, text, true);
  banner_->clearPosted();
  back_(text);
}

void SessionReports::closePosted() {
  if (banner_) banner_->clearPosted();
  outside_.closePosted();
}

}  // namespace strandlink::ui
