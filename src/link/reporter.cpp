#include "link/reporter.h"

#include "net/socket_errors.h"

namespace strandlink::link {

int Reporter::report(const QString& context, BoxIcon icon, const QString& title, const QString& text,
                     Flood flood) {
  const bool quiet = flood == Flood::Throttle && closedAt_.contains(context) &&
                     closedAt_[context].elapsed() < kQuietMs;
  if (open_.value(context, false) || quiet) {
    ++heldBack_[context];
    return 0;
  }
  open_[context] = true;
  const int answer = boxes_.show(icon, title, text);
  open_[context] = false;
  closedAt_[context].start();
  return answer;
}

void Reporter::socketError(int error, const QString& context, Flood flood, const QString& detail) {
  report(context, BoxIcon::Exclamation, QStringLiteral("Network Error"), context + net::socketErrorText(error) + detail,
         flood);
}

}  // namespace strandlink::link
