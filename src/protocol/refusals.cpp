#include "protocol/refusals.h"

#include "link/reporter.h"
#include "link/visible_text.h"
#include "net/addresses.h"

namespace strandlink::protocol {

void Refusals::refuse(link::SettingsField field, const QString& message) {
  messages_ << message;
  if (first_ == link::SettingsField::None) first_ = field;
}

void Refusals::refuseAddress(const QString& text, const net::Resolved& resolved, link::SettingsField field,
                             const QString& invalid, const QString& notFound) {
  const bool lookupFailed = net::isHostName(text) && net::failed(resolved.error);
  refuse(field, lookupFailed ? notFound.arg(link::quotedValue(text)) : invalid);
}

void Refusals::report(link::Reporter& reporter) const {
  if (messages_.isEmpty()) return;
  const QString text = messages_.join(u'\n');
  reporter.report(link::BoxIcon::Exclamation, QString::fromLatin1(link::kRefusedValueTitle), text);
}

}  // namespace strandlink::protocol
