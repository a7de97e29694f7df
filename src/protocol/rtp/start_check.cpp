#include "protocol/rtp/start_check.h"

#include <cmath>

#include "net/addresses.h"
#include "net/udp_socket.h"
#include "protocol/refusals.h"

namespace strandlink::protocol::rtp {

namespace {

using protocol::SettingsField;

// A port text's value when it names a control port with a data port above it.
std::optional<std::uint16_t> controlPort(const QString& text) {
  const auto value = net::portValue(text);
  if (!value || *value < 1.0 || *value > 65534.0) return std::nullopt;
  return static_cast<std::uint16_t>(std::nearbyint(*value));
}

}  // namespace

SessionAddressCheck checkSessionAddresses(const settings::Settings& s, PeerSink& sink) {
  Refusals refusals;
  const auto localPort = controlPort(s.localPort);
  if (!localPort) refusals.refuse({SettingsField::LocalPort, RefusalReason::NoDataPortAbove, s.localPort, 1, 65534});
  else if (*localPort % 2 != 0) refusals.refuse({SettingsField::LocalPort, RefusalReason::OddControlPort, s.localPort});
  std::optional<sockaddr_in> remote;
  if (!s.remoteHost.trimmed().isEmpty()) {
    const auto remotePort = controlPort(s.remotePort);
    if (!remotePort)
      refusals.refuse({SettingsField::RemotePort, RefusalReason::NoDataPortAbove, s.remotePort, 1, 65534});
    const auto remoteAddress =
        refusals.address(s.remoteHost, net::resolveAddress(s.remoteHost), SettingsField::RemoteHost);
    if (remotePort && remoteAddress) remote = net::makeAddress(*remoteAddress, *remotePort);
  }
  const auto local = refusals.address(s.localHost, net::resolveAddress(s.localHost), SettingsField::LocalHost);
  // Inviting itself, a copy would then refuse the real peer as busy.
  if (remote && local && localPort && remote->sin_port == htons(*localPort) &&
      (remote->sin_addr.s_addr == *local || (*local == INADDR_ANY && (ntohl(remote->sin_addr.s_addr) >> 24) == 127)))
    refusals.refuse({SettingsField::RemotePort, RefusalReason::OwnSession, s.remotePort});
  refusals.handUp(sink);
  if (refusals.first() != SettingsField::None) return {std::nullopt, refusals.first()};
  return {SessionAddresses{net::makeAddress(*local, *localPort), remote}, SettingsField::None};
}

}  // namespace strandlink::protocol::rtp
