// The check of the values a multicast Start uses; what will not do goes up to the
// link in one ValuesRefused. The fields mean other things here than on a unicast
// link: the remote address is a group (empty: the gateways' usual one), the
// remote port the group's port (empty: the first MIDI port's), the local address
// the interface to join and send on (empty: the system's choice). The local port
// is not used: every copy reads the group's port and sends from a port of its own.
#pragma once

#include <optional>

#include "protocol/classic/address_check.h"
#include "protocol/multicast/multicast_socket.h"
#include "settings/settings.h"

namespace strandlink::protocol::multicast {

inline constexpr int kMinTtl = 1;
inline constexpr int kMaxTtl = 255;

struct GroupCheck {
  std::optional<GroupOptions> options;  // nothing when a value was refused
  protocol::SettingsField firstRefused = protocol::SettingsField::None;
};

// The group's options, or every value that is not acceptable handed up to sink and
// the first refused field (None when only the TTL was refused: no field holds it).
GroupCheck checkGroupSettings(const settings::Settings& s, int ttl, PeerSink& sink);

}  // namespace strandlink::protocol::multicast
