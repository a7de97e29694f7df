#include "discovery/discovery_error.h"

#include <avahi-common/error.h>

namespace strandlink::discovery {

QString describe(const Failure& failure) {
  QString text;
  switch (failure.problem) {
    case Problem::NoDaemon:
      text = QStringLiteral("discovery is off: no Avahi daemon is running (addresses typed by hand still work)");
      break;
    case Problem::ClientFailed: text = QStringLiteral("discovery is off: the Avahi daemon could not be used"); break;
    case Problem::PublishFailed: text = QStringLiteral("this session could not be published on the network"); break;
    case Problem::BrowseFailed: text = QStringLiteral("sessions on the network could not be looked for"); break;
  }
  // "Daemon not running" would only repeat the text.
  if (failure.avahiError != 0 && failure.avahiError != AVAHI_ERR_NO_DAEMON)
    text += QStringLiteral(" (%1)").arg(QString::fromUtf8(avahi_strerror(failure.avahiError)));
  return text;
}

}  // namespace strandlink::discovery
