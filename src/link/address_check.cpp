#include "link/address_check.h"

#include <QStringList>

#include <cmath>

#include "link/reporter.h"
#include "link/visible_text.h"
#include "net/addresses.h"

namespace strandlink::link {

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

// Every refused value is listed in one box, in the order of the checks, so the
// user sees at once all there is to mend.
class Refusals {
 public:
  void refuse(SettingsField field, const QString& message) {
    messages_ << message;
    if (first_ == SettingsField::None) first_ = field;
  }
  // A port: out of range, or 65535 without a port above it for the chat.
  void port(PortCheck check, SettingsField field, const QString& outOfRange, const QString& noChatPort) {
    if (check != PortCheck::Usable) refuse(field, check == PortCheck::OutOfRange ? outOfRange : noChatPort);
  }
  // An address: a name that could not be found is told apart from a text that is no address.
  void address(const QString& text, const net::Resolved& resolved, SettingsField field, const QString& invalid,
               const QString& notFound) {
    if (!text.isEmpty() && resolved.usable()) return;
    const bool lookupFailed = net::isHostName(text) && net::failed(resolved.error);
    refuse(field, lookupFailed ? notFound.arg(quotedValue(text)) : invalid);
  }
  // The one box; its text is its own context, so a repeat never stacks on itself.
  void report(Reporter& reporter) const {
    if (messages_.isEmpty()) return;
    const QString text = messages_.join(u'\n');
    reporter.report(BoxIcon::Exclamation, QString::fromLatin1(kRefusedValueTitle), text);
  }
  SettingsField first() const { return first_; }

 private:
  QStringList messages_;
  SettingsField first_ = SettingsField::None;
};

}  // namespace

AddressCheck checkAddresses(const settings::Settings& s, Reporter& reporter) {
  Refusals refusals;
  const auto localPort = net::portValue(s.localPort);
  refusals.port(checkPort(localPort), SettingsField::LocalPort,
                QStringLiteral("Local Port value must be between 1 and 65535"),
                QStringLiteral("Local Port value must be at most 65534: the chat uses the port above it"));
  const auto remotePort = net::portValue(s.remotePort);
  refusals.port(checkPort(remotePort), SettingsField::RemotePort,
                QStringLiteral("Remote Port value must be between 1 and 65535"),
                QStringLiteral("Remote Port value must be at most 65534: the chat uses the port above it"));
  const net::Resolved remote = net::resolveAddress(s.remoteHost);
  refusals.address(s.remoteHost, remote, SettingsField::RemoteHost,
                   QStringLiteral("Invalid format for Remote IP Address"),
                   QStringLiteral("Could not find the host name %1 for Remote IP Address"));
  const net::Resolved local = net::resolveAddress(s.localHost);
  refusals.address(s.localHost, local, SettingsField::LocalHost, QStringLiteral("Invalid format for Local IP Address"),
                   QStringLiteral("Could not find the host name %1 for Local IP Address"));
  refusals.report(reporter);
  if (refusals.first() != SettingsField::None) return {std::nullopt, refusals.first()};
  return {LinkAddresses{remote.address, portOf(*remotePort), local.address, portOf(*localPort)}, SettingsField::None};
}

}  // namespace strandlink::link
