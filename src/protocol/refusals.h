// The values a Start refused, gathered while the checks run: all of them go up
// together, in the order of the checks, so the user sees at once all there is
// to mend.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

#include "protocol/peer_protocol.h"

namespace strandlink::net {
struct Resolved;
}

namespace strandlink::protocol {

class Refusals {
 public:
  void refuse(Refusal refusal);
  // The Remote or Local IP Address (field) that will not do: a name that could not
  // be found is told apart from a text that is no address.
  void refuseAddress(const QString& text, const net::Resolved& resolved, SettingsField field);
  // The address the text resolved to, when it is there and usable; otherwise
  // nothing, refused as above.
  std::optional<std::uint32_t> address(const QString& text, const net::Resolved& resolved, SettingsField field);
  bool any() const { return !refused_.refusals.empty(); }
  // The first refused field; None when no value a field holds was refused.
  SettingsField first() const { return first_; }
  // All of them at once, when there are any.
  void handUp(PeerSink& sink) const;

 private:
  ValuesRefused refused_;
  SettingsField first_ = SettingsField::None;
};

}  // namespace strandlink::protocol
