// The check of the four address and port values before a session starts, with
// the boxes that tell the user what is wrong.
#pragma once

#include <cstdint>
#include <optional>

#include "settings/settings.h"

namespace strandlink::link {

class Reporter;

// Both ends of a link: addresses in network byte order, MIDI ports (each side's
// chat port is one above).
struct LinkAddresses {
  std::uint32_t remoteAddress = 0;
  std::uint16_t remotePort = 0;
  std::uint32_t localAddress = 0;
  std::uint16_t localPort = 0;
};

// One of the four values a Start was refused for, so a front end can take the
// user to it.
enum class SettingsField { None, LocalPort, RemotePort, RemoteHost, LocalHost };

struct AddressCheck {
  std::optional<LinkAddresses> addresses;  // nothing when a value was refused
  SettingsField firstRefused = SettingsField::None;
};

// The addresses, or one box that lists every value that is not acceptable, and
// the first of them.
AddressCheck checkAddresses(const settings::Settings& s, Reporter& reporter);

// The title of the box of refused values.
inline constexpr char kRefusedValueTitle[] = "Network Settings";

}  // namespace strandlink::link
