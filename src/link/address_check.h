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

// The addresses, or nothing after the "Network Error" box of each value that is
// not acceptable. A remote host text that names nothing ends the check there.
std::optional<LinkAddresses> checkAddresses(const settings::Settings& s, Reporter& reporter);

}  // namespace strandlink::link
