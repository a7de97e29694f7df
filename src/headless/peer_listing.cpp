#include "headless/peer_listing.h"

#include <QSet>
#include <QTimer>

#include "discovery/avahi_connection.h"
#include "discovery/browser.h"
#include "report/visible_text.h"

namespace strandlink::headless {

namespace {

constexpr int kWaited = 0, kFailed = 1, kStopped = 2;

}  // namespace

PeerListing::PeerListing(QString serviceType, std::FILE* out, std::FILE* err, std::chrono::milliseconds wait)
    : serviceType_(std::move(serviceType)), out_(out), err_(err), wait_(wait) {}

void PeerListing::stop() {
  stopped_ = true;
  loop_.exit(kStopped);
}

int PeerListing::run() {
  discovery::AvahiConnection connection;
  connection.start();
  if (connection.isOff()) {
    std::fprintf(err_, "strandlink: %s\n", qPrintable(discovery::describe(*connection.offReason())));
    return 1;
  }
  discovery::Browser browser(connection, serviceType_);
  connect(&browser, &discovery::Browser::failed, &loop_, [&](const discovery::Failure& f) {
    std::fprintf(err_, "strandlink: %s\n", qPrintable(discovery::describe(f)));
    loop_.exit(kFailed);
  });
  QTimer::singleShot(wait_, &loop_, [this] { loop_.exit(kWaited); });
  if (!stopped_ && loop_.exec() == kFailed) return 1;

  // One line per session, however many interfaces it was seen on.
  QSet<QString> printed;
  for (const discovery::FoundService& s : browser.services()) {
    // Escaped, so that an advert cannot add a row or a column, nor act on a terminal.
    const QString line = QStringLiteral("%1\t%2\t%3:%4")
                             .arg(report::visibleName(s.name), report::visibleName(s.host), s.address)
                             .arg(s.port);
    if (printed.contains(line)) continue;
    printed.insert(line);
    std::fprintf(out_, "%s\n", qPrintable(line));
  }
  // Said on err, so that what is on out stays one row per session.
  const long long seconds = (wait_.count() + 500) / 1000;
  const qsizetype left = stopped_ ? 0 : browser.unresolved();
  if (left > 0) {
    std::fprintf(err_, "strandlink: ... and %lld more %s sessions not resolved within %lld s\n",
                 static_cast<long long>(left), qPrintable(serviceType_), seconds);
  } else if (printed.isEmpty() && !stopped_) {
    std::fprintf(err_, "strandlink: no %s sessions found within %lld s\n", qPrintable(serviceType_), seconds);
  }
  return printed.isEmpty() ? 1 : 0;
}

}  // namespace strandlink::headless
