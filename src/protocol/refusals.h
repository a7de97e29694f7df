// The values a Start refused, gathered while the checks run: every one is listed
// in one box, in the order of the checks, so the user sees at once all there is
// to mend.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "protocol/peer_protocol.h"

namespace strandlink::net {
struct Resolved;
}

namespace strandlink::report {
class Reporter;
}

namespace strandlink::protocol {

// The title of the box of refused values.
inline constexpr char kRefusedValueTitle[] = "Network Settings";

class Refusals {
 public:
  void refuse(SettingsField field, const QString& message);
  // The Remote or Local IP Address (field) that will not do: a name that could not
  // be found is told apart from a text that is no address.
  void refuseAddress(const QString& text, const net::Resolved& resolved, SettingsField field);
  // The address the text resolved to, when it is there and usable; otherwise
  // nothing, refused as above.
  std::optional<std::uint32_t> address(const QString& text, const net::Resolved& resolved, SettingsField field);
  bool any() const { return !messages_.isEmpty(); }
  // The first refused field; None when no value a field holds was refused.
  SettingsField first() const { return first_; }
  // The one box; its text is its own context, so a repeat never stacks on itself.
  void report(report::Reporter& reporter) const;

 private:
  QStringList messages_;
  SettingsField first_ = SettingsField::None;
};

}  // namespace strandlink::protocol
