#include "protocol/classic/address_check.h"

#include <cmath>

#include "net/addresses.h"
#include "protocol/refusals.h"

namespace strandlink::protocol::classic {

namespace {

// The highest port a box may name: the chat port is one above it and must exist too.
constexpr double kHighestPort = 65534.0;

enum class PortCheck { Usable, OutOfRange, NoChatPort };

PortCheck checkPort(const std::optional<double>& value) {
  if (!value || *value < 1.0 || *value > 65535.0) return PortCheck::OutOfRange;
  return *value > kHighestPort ? PortCheck::NoChatPort : PortCheck::Usable;
}

// The port of a usable text, rounded half to even as a fraction from a settings file is.
std::uint16_t portOf(double value) { return static_cast<std::uint16_t>(std::nearbyint(value)); }

using protocol::Refusals;

// A port: out of range, or 65535 without a port above it for the chat.
void refusePort(Refusals& refusals, PortCheck check, SettingsField field, const QString& outOfRange,
                const QString& noChatPort) {
  if (check != PortCheck::Usable) refusals.refuse(field, check == PortCheck::OutOfRange ? outOfRange : noChatPort);
}

}  // namespace

AddressCheck checkAddresses(const settings::Settings& s, report::Reporter& reporter) {
  Refusals refusals;
  const auto localPort = net::portValue(s.localPort);
  refusePort(refusals, checkPort(localPort), SettingsField::LocalPort,
             QStringLiteral("Local Port value must be between 1 and 65535"),
             QStringLiteral("Local Port value must be at most 65534: the chat uses the port above it"));
  const auto remotePort = net::portValue(s.remotePort);
  refusePort(refusals, checkPort(remotePort), SettingsField::RemotePort,
             QStringLiteral("Remote Port value must be between 1 and 65535"),
             QStringLiteral("Remote Port value must be at most 65534: the chat uses the port above it"));
  const net::Resolved remote = net::resolveAddress(s.remoteHost);
  static_cast<void>(refusals.address(s.remoteHost, remote, SettingsField::RemoteHost));
  const net::Resolved local = net::resolveAddress(s.localHost);
  static_cast<void>(refusals.address(s.localHost, local, SettingsField::LocalHost));
  refusals.report(reporter);
  if (refusals.first() != SettingsField::None) return {std::nullopt, refusals.first()};
  return {LinkAddresses{remote.address, portOf(*remotePort), local.address, portOf(*localPort)}, SettingsField::None};
}

}  // namespace strandlink::protocol::classic
