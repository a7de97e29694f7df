// The check of the address and port values before an RTP-MIDI session starts. As
// for any link, with two differences: the local port is the control port and must
// be even (the data port is the one above it), and the remote is optional (without
// one, this side waits to be invited).
#pragma once

#include <netinet/in.h>

#include <optional>
#include <vector>

#include "protocol/classic/address_check.h"
#include "protocol/peer_protocol.h"
#include "settings/settings.h"

namespace strandlink::protocol::rtp {

struct SessionAddresses {
  sockaddr_in localControl{};
  std::vector<sockaddr_in> remotes;  // their control ports, each once; none: wait for an invitation
};

struct SessionAddressCheck {
  std::optional<SessionAddresses> addresses;  // nothing when a value was refused
  protocol::SettingsField firstRefused = protocol::SettingsField::None;
};

// The addresses, or every value that is not acceptable handed up to sink: the
// settings' remote and then the more remotes, each checked as that one is.
SessionAddressCheck checkSessionAddresses(const settings::Settings& s, PeerSink& sink,
                                          const std::vector<RemoteText>& moreRemotes = {});

}  // namespace strandlink::protocol::rtp
