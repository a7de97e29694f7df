// Our one clock of moments: CLOCK_MONOTONIC (which std::chrono::steady_clock is
// on Linux), in µs. What the input captured, what the output plays, when a
// datagram arrived and when a protocol's timeout falls are all told on it.
#pragma once

#include <chrono>
#include <cstdint>

namespace strandlink::midi {

inline std::int64_t monotonicMicros() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace strandlink::midi
