#include "protocol/midi2/start_check.h"

#include <cmath>

#include "net/addresses.h"
#include "net/own_address.h"
#include "net/udp_socket.h"
#include "protocol/refusals.h"

namespace strandlink::protocol::midi2 {

namespace {

std::optional<std::uint16_t> portOf(const QString& text) {
  const auto value = net::portValue(text);
  if (!value || *value < 1.0 || *value > 65535.0) return std::nullopt;
  return static_cast<std::uint16_t>(std::nearbyint(*value));
}

}  // namespace

LinkAddressCheck checkLinkAddresses(const settings::Settings& s, PeerSink& sink) {
  Refusals refusals;
  const auto localPort = portOf(s.localPort);
  if (!localPort) refusals.refuse({SettingsField::LocalPort, RefusalReason::PortOutOfRange, s.localPort, 1, 65535});
  std::optional<sockaddr_in> host;
  if (!s.remoteHost.trimmed().isEmpty()) {
    const auto remotePort = portOf(s.remotePort);
    if (!remotePort)
      refusals.refuse({SettingsField::RemotePort, RefusalReason::PortOutOfRange, s.remotePort, 1, 65535});
    const auto address = refusals.address(s.remoteHost, net::resolveAddress(s.remoteHost), SettingsField::RemoteHost);
    if (remotePort && address) host = net::makeAddress(*address, *remotePort);
  }
  const auto local = refusals.address(s.localHost, net::resolveAddress(s.localHost), SettingsField::LocalHost);
  // Inviting itself, a copy would take its own invitation.
  if (host && local && localPort && host->sin_port == htons(*localPort) &&
      (host->sin_addr.s_addr == *local || (*local == INADDR_ANY && net::isLoopback(host->sin_addr.s_addr))))
    refusals.refuse({SettingsField::RemotePort, RefusalReason::OwnSession, s.remotePort});
  refusals.handUp(sink);
  if (refusals.first() != SettingsField::None) return {std::nullopt, refusals.first()};
  return {LinkAddresses{net::makeAddress(*local, *localPort), host}, SettingsField::None};
}

}  // namespace strandlink::protocol::midi2
