// Answers a peer's questions about this endpoint, asked in stream packets
// (message type F): who we are, our one function block, and which protocol we
// speak. We declare a MIDI 1.0 endpoint with one bidirectional block on group 0,
// named like the endpoint, so that a peer makes one MIDI 1.0 port of us.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace strandlink::protocol::midi2 {

using StreamPacket = std::array<std::uint32_t, 4>;

struct EndpointDescription {
  std::string_view name;
  std::string_view instanceId;
};

// The packets that answer one stream packet (none for one that asks nothing).
std::vector<StreamPacket> answerStream(std::span<const std::uint32_t, 4> packet, const EndpointDescription& us);

// A text in stream packets of this status, `first` bytes in the first word after
// the status (2 for the endpoint's texts, 1 after a block's number), 12 more in
// the others; lead is what comes before the text in word 0's low half.
std::vector<StreamPacket> streamText(std::uint16_t status, std::string_view text, std::size_t first,
                                     std::uint8_t lead = 0);

}  // namespace strandlink::protocol::midi2
