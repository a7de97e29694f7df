#include "session/reporter.h"

namespace strandlink {

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

}  // namespace strandlink
