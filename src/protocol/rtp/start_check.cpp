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

// A usable address for the text, or nothing, refused.
std::optional<std::uint32_t> address(Refusals& refusals, const QString& text, SettingsField field,
                                     const QString& invalid, const QString& notFound) {
  const net::Resolved resolved = net::resolveAddress(text);
  if (!text.isEmpty() && resolved.usable()) return resolved.address;
  refusals.refuseAddress(text, resolved, field, invalid, notFound);
  return std::nullopt;
}

}  // namespace

SessionAddressCheck checkSessionAddresses(const settings::Settings& s, report::Reporter& reporter) {
  Refusals refusals;
  const auto localPort = controlPort(s.localPort);
  if (!localPort)
    refusals.refuse(SettingsField::LocalPort, QStringLiteral("Local Port value must be between 1 and 65534 "
                                                             "for RTP-MIDI"));
  else if (*localPort % 2 != 0)
    refusals.refuse(SettingsField::LocalPort, QStringLiteral("Local Port value must be even for RTP-MIDI"));
  std::optional<sockaddr_in> remote;
  if (!s.remoteHost.trimmed().isEmpty()) {
    const auto remotePort = controlPort(s.remotePort);
    if (!remotePort)
      refusals.refuse(SettingsField::RemotePort, QStringLiteral("Remote Port value must be between 1 and 65534"));
    const auto remoteAddress = address(refusals, s.remoteHost, SettingsField::RemoteHost,
                                       QStringLiteral("Invalid format for Remote IP Address"),
                                       QStringLiteral("Could not find the host name %1 for Remote IP Address"));
    if (remotePort && remoteAddress) remote = net::makeAddress(*remoteAddress, *remotePort);
  }
  const auto local = address(refusals, s.localHost, SettingsField::LocalHost,
                             QStringLiteral("Invalid format for Local IP Address"),
                             QStringLiteral("Could not find the host name %1 for Local IP Address"));
  refusals.report(reporter);
  if (refusals.first() != SettingsField::None) return {std::nullopt, refusals.first()};
  return {SessionAddresses{net::makeAddress(*local, *localPort), remote}, SettingsField::None};
}

}  // namespace strandlink::protocol::rtp
