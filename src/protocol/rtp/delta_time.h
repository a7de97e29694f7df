// The delta time before a command in a MIDI list: 1 to 4 octets, seven bits each,
// most significant first, every octet but the last with its top bit set.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/rtp/byte_io.h"
#include "protocol/rtp/decode_error.h"

namespace strandlink::protocol::rtp {

// The largest delta time four octets hold (2^28 - 1 ticks, about 7 hours at 10 kHz).
inline constexpr std::uint32_t kMaxDeltaTime = 0x0FFFFFFF;

// Octets the shortest encoding of this delta time takes (larger values are clamped).
std::size_t deltaTimeSize(std::uint32_t ticks);
// Appends the shortest encoding; a value above kMaxDeltaTime is clamped to it.
void appendDeltaTime(std::vector<std::uint8_t>& out, std::uint32_t ticks);
DecodeError readDeltaTime(ByteReader& in, std::uint32_t& ticks);

}  // namespace strandlink::protocol::rtp
