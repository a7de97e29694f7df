#include "protocol/multicast/group_settings.h"

#include <cmath>

#include "net/addresses.h"
#include "protocol/refusals.h"

namespace strandlink::protocol::multicast {

namespace {

using protocol::SettingsField;

void checkGroup(const settings::Settings& s, GroupOptions& options, Refusals& refusals) {
  const QString text = s.remoteHost.trimmed();
  if (text.isEmpty()) return;
  const net::Resolved group = net::resolveAddress(text);
  if (net::failed(group.error) || group.address == net::kNoAddress) {
    refusals.refuseAddress(text, group, SettingsField::RemoteHost);
  } else if (!IN_MULTICAST(ntohl(group.address))) {
    refusals.refuse({SettingsField::RemoteHost, RefusalReason::NotAGroup, text});
  } else {
    options.group = group.address;
  }
}

void checkPort(const settings::Settings& s, GroupOptions& options, Refusals& refusals) {
  if (s.remotePort.trimmed().isEmpty()) return;
  const auto port = net::portValue(s.remotePort);
  if (!port || *port < 1.0 || *port > 65535.0) {
    refusals.refuse({SettingsField::RemotePort, RefusalReason::PortOutOfRange, s.remotePort, 1, 65535});
    return;
  }
  options.port = static_cast<std::uint16_t>(std::nearbyint(*port));
}

void checkInterface(const settings::Settings& s, GroupOptions& options, Refusals& refusals) {
  const QString text = s.localHost.trimmed();
  if (text.isEmpty()) return;
  if (const auto local = refusals.address(text, net::resolveAddress(text), SettingsField::LocalHost))
    options.interfaceAddress = *local;
}

}  // namespace

GroupCheck checkGroupSettings(const settings::Settings& s, int ttl, PeerSink& sink) {
  Refusals refusals;
  GroupOptions options;
  checkGroup(s, options, refusals);
  // An empty group is the usual one on its usual port: a port alone is most often
  // what a classic setup left behind (4000 on a first run), where no gateway listens.
  if (!s.remoteHost.trimmed().isEmpty()) checkPort(s, options, refusals);
  checkInterface(s, options, refusals);
  if (ttl < kMinTtl || ttl > kMaxTtl)
    refusals.refuse({SettingsField::None, RefusalReason::TtlOutOfRange, QString::number(ttl), kMinTtl, kMaxTtl});
  else options.ttl = ttl;
  refusals.handUp(sink);
  if (refusals.any()) return {std::nullopt, refusals.first()};
  return {options, SettingsField::None};
}

}  // namespace strandlink::protocol::multicast
