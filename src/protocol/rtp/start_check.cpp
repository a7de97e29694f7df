#include "protocol/rtp/start_check.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "net/addresses.h"
#include "net/own_address.h"
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

SessionAddressCheck checkSessionAddresses(const settings::Settings& s, PeerSink& sink,
                                          const std::vector<RemoteText>& moreRemotes) {
  Refusals refusals;
  const auto localPort = controlPort(s.localPort);
  if (!localPort) refusals.refuse({SettingsField::LocalPort, RefusalReason::NoDataPortAbove, s.localPort, 1, 65534});
  else if (*localPort % 2 != 0) refusals.refuse({SettingsField::LocalPort, RefusalReason::OddControlPort, s.localPort});
  std::vector<RemoteText> given;
  if (!s.remoteHost.trimmed().isEmpty()) given.push_back({s.remoteHost, s.remotePort});
  given.insert(given.end(), moreRemotes.begin(), moreRemotes.end());
  std::vector<std::pair<sockaddr_in, QString>> named;  // each with its port as given
  for (const RemoteText& r : given) {
    const auto remotePort = controlPort(r.port);
    if (!remotePort) refusals.refuse({SettingsField::RemotePort, RefusalReason::NoDataPortAbove, r.port, 1, 65534});
    const auto remoteAddress = refusals.address(r.host, net::resolveAddress(r.host), SettingsField::RemoteHost);
    if (remotePort && remoteAddress) named.emplace_back(net::makeAddress(*remoteAddress, *remotePort), r.port);
  }
  const auto local = refusals.address(s.localHost, net::resolveAddress(s.localHost), SettingsField::LocalHost);
  std::vector<sockaddr_in> remotes;
  for (const auto& [remote, portText] : named) {
    // Inviting itself, a copy would then refuse the real peer as busy.
    if (local && localPort && remote.sin_port == htons(*localPort) &&
        (remote.sin_addr.s_addr == *local || (*local == INADDR_ANY && net::isLoopback(remote.sin_addr.s_addr))))
      refusals.refuse({SettingsField::RemotePort, RefusalReason::OwnSession, portText});
    const bool twice = std::any_of(remotes.begin(), remotes.end(), [&](const sockaddr_in& a) {
      return a.sin_addr.s_addr == remote.sin_addr.s_addr && a.sin_port == remote.sin_port;
    });
    if (!twice) remotes.push_back(remote);
  }
  refusals.handUp(sink);
  if (refusals.first() != SettingsField::None) return {std::nullopt, refusals.first()};
  return {SessionAddresses{net::makeAddress(*local, *localPort), std::move(remotes)}, SettingsField::None};
}

}  // namespace strandlink::protocol::rtp
