#include "protocol/refusals.h"

#include "net/addresses.h"
#include "report/reporter.h"
#include "report/visible_text.h"

namespace strandlink::protocol {

void Refusals::refuse(protocol::SettingsField field, const QString& message) {
  messages_ << message;
  if (first_ == protocol::SettingsField::None) first_ = field;
}

void Refusals::refuseAddress(const QString& text, const net::Resolved& resolved, protocol::SettingsField field,
                             const QString& invalid, const QString& notFound) {
  const bool lookupFailed = net::isHostName(text) && net::failed(resolved.error);
  refuse(field, lookupFailed ? notFound.arg(report::quotedValue(text)) : invalid);
}

void Refusals::report(report::Reporter& reporter) const {
  if (messages_.isEmpty()) return;
  const QString text = messages_.join(u'\n');
  reporter.report(report::BoxIcon::Exclamation, QString::fromLatin1(kRefusedValueTitle), text);
}

}  // namespace strandlink::protocol
