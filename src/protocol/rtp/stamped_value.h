// A value a stream of MIDI messages set, with the stamp of the packet that last
// set it: the sender's journal holds what was set since its checkpoint.
#pragma once

#include <cstdint>

namespace strandlink::protocol::rtp {

// -1: never set (or cleared by a reset).
struct StampedValue {
  std::int16_t value = -1;
  std::uint64_t stamp = 0;
  void set(int v, std::uint64_t s) { value = static_cast<std::int16_t>(v), stamp = s; }
  bool within(std::uint64_t from, std::uint64_t before) const { return value >= 0 && stamp >= from && stamp < before; }
};

}  // namespace strandlink::protocol::rtp
