#include "protocol/refusals.h"

#include "net/addresses.h"
#include "report/reporter.h"
#include "report/visible_text.h"

namespace strandlink::protocol {

void Refusals::refuse(SettingsField field, const QString& message) {
  messages_ << message;
  if (first_ == SettingsField::None) first_ = field;
}

void Refusals::refuseAddress(const QString& text, const net::Resolved& resolved, SettingsField field) {
  const QString value = field == SettingsField::LocalHost ? QStringLiteral("Local IP Address")
                                                          : QStringLiteral("Remote IP Address");
  const bool lookupFailed = net::isHostName(text) && net::failed(resolved.error);
  refuse(field, lookupFailed
                    ? QStringLiteral("Could not find the host name %1 for %2").arg(report::quotedValue(text), value)
                    : QStringLiteral("Invalid format for ") + value);
}

std::optional<std::uint32_t> Refusals::address(const QString& text, const net::Resolved& resolved,
                                               SettingsField field) {
  if (!text.isEmpty() && resolved.usable()) return resolved.address;
  refuseAddress(text, resolved, field);
  return std::nullopt;
}

void Refusals::report(report::Reporter& reporter) const {
  if (messages_.isEmpty()) return;
  const QString text = messages_.join(u'\n');
  reporter.report(report::BoxIcon::Exclamation, QString::fromLatin1(kRefusedValueTitle), text);
}

}  // namespace strandlink::protocol
