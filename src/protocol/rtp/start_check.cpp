#include "protocol/rtp/start_check.h"

#include <QStringList>

#include <cmath>

#include "link/reporter.h"
#include "link/visible_text.h"
#include "net/addresses.h"
#include "net/udp_socket.h"

namespace strandlink::protocol::rtp {

namespace {

using link::SettingsField;

// A port text's value when it names a control port with a data port above it.
std::optional<std::uint16_t> controlPort(const QString& text) {
  const auto value = net::portValue(text);
  if (!value || *value < 1.0 || *value > 65534.0) return std::nullopt;
  return static_cast<std::uint16_t>(std::nearbyint(*value));
}

class Refusals {
 public:
  void refuse(SettingsField field, const QString& message) {
    messages_ << message;
    if (first_ == SettingsField::None) first_ = field;
  }
  // An address: a name that could not be found is told apart from a text that is no address.
  std::optional<std::uint32_t> address(const QString& text, SettingsField field, const QString& invalid,
                                       const QString& notFound) {
    const net::Resolved resolved = net::resolveAddress(text);
    if (!text.isEmpty() && resolved.usable()) return resolved.address;
    const bool lookupFailed = net::isHostName(text) && net::failed(resolved.error);
    refuse(field, lookupFailed ? notFound.arg(link::quotedValue(text)) : invalid);
    return std::nullopt;
  }
  void report(link::Reporter& reporter) const {
    if (messages_.isEmpty()) return;
    const QString text = messages_.join(u'\n');
    reporter.report(link::BoxIcon::Exclamation, QString::fromLatin1(link::kRefusedValueTitle), text);
  }
  SettingsField first() const { return first_; }

 private:
  QStringList messages_;
  SettingsField first_ = SettingsField::None;
};

}  // namespace

SessionAddressCheck checkSessionAddresses(const settings::Settings& s, link::Reporter& reporter) {
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
    const auto address = refusals.address(s.remoteHost, SettingsField::RemoteHost,
                                          QStringLiteral("Invalid format for Remote IP Address"),
                                          QStringLiteral("Could not find the host name %1 for Remote IP Address"));
    if (remotePort && address) remote = net::makeAddress(*address, *remotePort);
  }
  const auto local = refusals.address(s.localHost, SettingsField::LocalHost,
                                      QStringLiteral("Invalid format for Local IP Address"),
                                      QStringLiteral("Could not find the host name %1 for Local IP Address"));
  refusals.report(reporter);
  if (refusals.first() != SettingsField::None) return {std::nullopt, refusals.first()};
  return {SessionAddresses{net::makeAddress(*local, *localPort), remote}, SettingsField::None};
}

}  // namespace strandlink::protocol::rtp
