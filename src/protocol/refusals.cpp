#include "protocol/refusals.h"

#include <utility>

#include "net/addresses.h"

namespace strandlink::protocol {

void Refusals::refuse(Refusal refusal) {
  if (first_ == SettingsField::None) first_ = refusal.field;
  refused_.refusals.push_back(std::move(refusal));
}

void Refusals::refuseAddress(const QString& text, const net::Resolved& resolved, SettingsField field) {
  const bool lookupFailed = net::isHostName(text) && net::failed(resolved.error);
  refuse({field, lookupFailed ? RefusalReason::HostNotFound : RefusalReason::NotAnAddress, text});
}

std::optional<std::uint32_t> Refusals::address(const QString& text, const net::Resolved& resolved,
                                               SettingsField field) {
  if (!text.isEmpty() && resolved.usable()) return resolved.address;
  refuseAddress(text, resolved, field);
  return std::nullopt;
}

void Refusals::handUp(PeerSink& sink) const {
  if (any()) sink.peerProblem(refused_);
}

}  // namespace strandlink::protocol
