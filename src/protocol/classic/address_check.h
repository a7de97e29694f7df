// The check of the four address and port values before a session starts; what
// will not do goes up to the link in one ValuesRefused.
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/peer_protocol.h"
#include "settings/settings.h"

namespace strandlink::protocol::classic {

// Both ends of a link: addresses in network byte order, MIDI ports (each side's
// chat port is one above).
struct LinkAddresses {
  std::uint32_t remoteAddress = 0;
  std::uint16_t remotePort = 0;
  std::uint32_t localAddress = 0;
  std::uint16_t localPort = 0;
};

struct AddressCheck {
  std::optional<LinkAddresses> addresses;  // nothing when a value was refused
  SettingsField firstRefused = SettingsField::None;
};

// The addresses, or every value that is not acceptable handed up to sink, and
// the first of them.
AddressCheck checkAddresses(const settings::Settings& s, PeerSink& sink);

}  // namespace strandlink::protocol::classic
