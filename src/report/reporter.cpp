#include "report/reporter.h"

#include <utility>

#include "net/socket_errors.h"

namespace strandlink::report {

int Reporter::report(const QString& context, BoxIcon icon, const QString& title, const QString& text, Flood flood) {
  const bool quiet = flood == Flood::Throttle && closedAt_.contains(context) && closedAt_[context].elapsed() < kQuietMs;
  if (open_.value(context, false) || quiet) return 0;
  open_[context] = true;
  // One box at a time: what a posted box said, the status line still says.
  boxes_.closePosted();
  ++modalOpen_;
  const int answer = boxes_.show(icon, title, text);
  --modalOpen_;
  open_[context] = false;
  closedAt_[context].start();
  if (modalOpen_ == 0 && waiting_) {
    const Posted latest = *std::exchange(waiting_, std::nullopt);
    boxes_.post(latest.icon, latest.title, latest.text);
  }
  return answer;
}

void Reporter::post(BoxIcon icon, const QString& title, const QString& text) {
  if (modalOpen_ > 0) {
    waiting_ = Posted{icon, title, text};
    return;
  }
  boxes_.post(icon, title, text);
}

void Reporter::socketError(net::SocketError error, const QString& context, Flood flood, const QString& detail) {
  report(context, BoxIcon::Exclamation, QStringLiteral("Network Error"), context + net::socketErrorText(error) + detail,
         flood);
}

}  // namespace strandlink::report
