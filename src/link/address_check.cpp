#include "link/address_check.h"

#include <cmath>

#include "link/reporter.h"
#include "net/addresses.h"

namespace strandlink::link {

namespace {

// The highest port a box may name: the chat port is one above it and must exist too.
constexpr double kHighestPort = 65534.0;

// The port of a text, rounded half to even as a fraction from a settings file is.
std::optional<std::uint16_t> portOf(const QString& text) {
  const auto value = net::portValue(text);
  if (!value || *value < 1.0 || *value > kHighestPort) return std::nullopt;
  return static_cast<std::uint16_t>(std::nearbyint(*value));
}

// Each message is its own context, so a repeat never stacks on itself.
void reject(Reporter& reporter, const QString& message) {
  reporter.report(BoxIcon::Exclamation, QStringLiteral("Network Error"), message);
}

}  // namespace

std::optional<LinkAddresses> checkAddresses(const settings::Settings& s, Reporter& reporter) {
  bool failed = false;
  LinkAddresses a;
  const auto localPort = portOf(s.localPort);
  if (!localPort) {
    reject(reporter, QStringLiteral("Local Port value must be between 1 and 65535"));
    failed = true;
  }
  const auto remotePort = portOf(s.remotePort);
  if (!remotePort) {
    reject(reporter, QStringLiteral("Remote Port value must be between 1 and 65535"));
    failed = true;
  }
  const net::Resolved remote = net::resolveAddress(s.remoteHost);
  if (s.remoteHost.isEmpty() || !remote.usable()) {
    reject(reporter, QStringLiteral("Invalid format for Remote IP Address"));
    // An empty box goes on to the local address; a text that names nothing ends
    // the check here.
    if (!s.remoteHost.isEmpty()) return std::nullopt;
    failed = true;
  }
  const net::Resolved local = net::resolveAddress(s.localHost);
  if (s.localHost.isEmpty() || !local.usable()) {
    reject(reporter, QStringLiteral("Invalid format for Local IP Address"));
    failed = true;
  }
  if (failed) return std::nullopt;
  return LinkAddresses{remote.address, *remotePort, local.address, *localPort};
}

}  // namespace strandlink::link
