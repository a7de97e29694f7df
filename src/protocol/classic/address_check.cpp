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
void refusePort(Refusals& refusals, PortCheck check, SettingsField field, const QString& text) {
  if (check == PortCheck::Usable) return;
  const bool outOfRange = check == PortCheck::OutOfRange;
  refusals.refuse({field, outOfRange ? RefusalReason::PortOutOfRange : RefusalReason::NoChatPortAbove, text, 1,
                   outOfRange ? 65535 : int(kHighestPort)});
}

}  // namespace

AddressCheck checkAddresses(const settings::Settings& s, PeerSink& sink) {
  Refusals refusals;
  const auto localPort = net::portValue(s.localPort);
  refusePort(refusals, checkPort(localPort), SettingsField::LocalPort, s.localPort);
  const auto remotePort = net::portValue(s.remotePort);
  refusePort(refusals, checkPort(remotePort), SettingsField::RemotePort, s.remotePort);
  const net::Resolved remote = net::resolveAddress(s.remoteHost);
  static_cast<void>(refusals.address(s.remoteHost, remote, SettingsField::RemoteHost));
  const net::Resolved local = net::resolveAddress(s.localHost);
  static_cast<void>(refusals.address(s.localHost, local, SettingsField::LocalHost));
  refusals.handUp(sink);
  if (refusals.first() != SettingsField::None) return {std::nullopt, refusals.first()};
  return {LinkAddresses{remote.address, portOf(*remotePort), local.address, portOf(*localPort)}, SettingsField::None};
}

}  // namespace strandlink::protocol::classic
