#include "protocol/classic/oversize_notice.h"

#include <arpa/inet.h>

namespace strandlink::protocol::classic {

std::optional<OversizeIgnored> OversizeNotice::count(const sockaddr_in& from, Clock::time_point now) {
  ++total_;
  ++told_.count;
  told_.lastHost = from.sin_addr.s_addr;
  told_.lastPort = ntohs(from.sin_port);
  return due(now);
}

std::optional<OversizeIgnored> OversizeNotice::due(Clock::time_point now) {
  if (told_.count == 0 || (toldAt_ && now - *toldAt_ < kQuiet)) return std::nullopt;
  const OversizeIgnored notice = told_;
  told_.count = 0;
  toldAt_ = now;
  return notice;
}

}  // namespace strandlink::protocol::classic
