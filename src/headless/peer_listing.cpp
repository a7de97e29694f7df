#include "headless/peer_listing.h"

#include <QEventLoop>
#include <QSet>
#include <QTimer>

#include "discovery/avahi_connection.h"
#include "discovery/browser.h"

namespace strandlink::headless {

int listPeers(const QString& serviceType, std::FILE* out, std::FILE* err, std::chrono::milliseconds wait) {
  discovery::AvahiConnection connection;
  connection.start();
  if (connection.isOff()) {
    std::fprintf(err, "strandlink: %s\n", qPrintable(discovery::describe(*connection.offReason())));
    return 1;
  }
  discovery::Browser browser(connection, serviceType);
  QEventLoop loop;
  QObject::connect(&browser, &discovery::Browser::failed, &loop, [&](const discovery::Failure& f) {
    std::fprintf(err, "strandlink: %s\n", qPrintable(discovery::describe(f)));
    loop.exit(1);
  });
  QTimer::singleShot(wait, &loop, [&loop] { loop.exit(0); });
  if (loop.exec() != 0) return 1;

  // One line per session, however many interfaces it was seen on.
  QSet<QString> printed;
  for (const discovery::FoundService& s : browser.services()) {
    const QString line = QStringLiteral("%1\t%2\t%3:%4").arg(s.name, s.host, s.address).arg(s.port);
    if (printed.contains(line)) continue;
    printed.insert(line);
    std::fprintf(out, "%s\n", qPrintable(line));
  }
  if (printed.isEmpty()) {
    std::fprintf(err, "strandlink: no %s sessions found within %lld s\n", qPrintable(serviceType),
                 static_cast<long long>((wait.count() + 500) / 1000));
    return 1;
  }
  return 0;
}

}  // namespace strandlink::headless
