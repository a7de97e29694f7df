// The check of the address and port values before a Network MIDI 2.0 link
// starts: the local port is any port (the host's is usually 5673), and the
// remote is optional: without one this side is a host and waits for invitations.
#pragma once

#include <netinet/in.h>

#include <optional>

#include "protocol/peer_protocol.h"
#include "settings/settings.h"

namespace strandlink::protocol::midi2 {

struct LinkAddresses {
  sockaddr_in local{};
  std::optional<sockaddr_in> host;  // none: we are the host
};

struct LinkAddressCheck {
  std::optional<LinkAddresses> addresses;  // nothing when a value was refused
  SettingsField firstRefused = SettingsField::None;
};

// The addresses, or every value that is not acceptable handed up to sink.
LinkAddressCheck checkLinkAddresses(const settings::Settings& s, PeerSink& sink);

}  // namespace strandlink::protocol::midi2
