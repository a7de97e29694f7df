// The one place that knows every peer protocol: which of them has a chat, and the
// implementation for a choice. Adding a protocol touches this file, the
// settings' choice and the front ends' lists, nothing else above the seam.
#pragma once

#include <memory>

#include "protocol/peer_protocol.h"
#include "settings/preferences.h"

namespace strandlink::protocol {

// Whether the protocol carries chat lines; the front ends disable the chat without.
bool protocolHasChat(settings::Protocol protocol);

// A stopped protocol of that kind.
std::unique_ptr<PeerProtocol> makePeerProtocol(settings::Protocol protocol, const PeerContext& context);

}  // namespace strandlink::protocol
