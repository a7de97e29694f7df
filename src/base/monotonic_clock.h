// Our one clock of moments: CLOCK_MONOTONIC (which std::chrono::steady_clock is
// on Linux), in µs. What the input captured, what the output plays, when a
// datagram arrived and when a protocol's timeout falls are all told on it. It
// sits below the MIDI and network adapters so that both can tell time by it.
#pragma once

#include <chrono>
#include <cstdint>

namespace strandlink {

inline std::int64_t monotonicMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace strandlink
