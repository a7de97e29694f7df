#include "protocol/classic/oversize_notice.h"

#include <arpa/inet.h>

#include "net/addresses.h"

namespace strandlink::protocol::classic {

QString OversizeNotice::count(const sockaddr_in& from, Clock::time_point now) {
  ++total_;
  ++untold_;
  lastSender_ = net::formatAddress(from.sin_addr.s_addr) + u':' + QString::number(ntohs(from.sin_port));
  return due(now);
}

QString OversizeNotice::due(Clock::time_point now) {
  if (untold_ == 0 || (toldAt_ && now - *toldAt_ < kQuiet)) return {};
  return line(now);
}

QString OversizeNotice::line(Clock::time_point now) {
  const QString text = QStringLiteral("Ignored %1 %2 longer than %3 bytes at the %4 port, the last from %5")
                           .arg(untold_)
                           .arg(untold_ == 1 ? QStringLiteral("datagram") : QStringLiteral("datagrams"))
                           .arg(readLength_)
                           .arg(portName_, lastSender_);
  untold_ = 0;
  toldAt_ = now;
  return text;
}

}  // namespace strandlink::protocol::classic
