// Packets dropped because they are malformed. Anyone on the network can send
// them, so they are no error worth a box: the first is said in a line at once, the
// rest at most once every ten seconds, counted. The loop's thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "protocol/rtp/clock_sync.h"

namespace strandlink::protocol::rtp {

class DropNotice {
 public:
  static constexpr Micros kQuiet = 10'000'000;

  // One more; how many to tell now, this one with those held back, or 0 (it is
  // told with a later one).
  std::uint64_t count(Micros now) {
    ++total_;
    ++untold_;
    if (lastLine_ && now - *lastLine_ < kQuiet) return 0;
    lastLine_ = now;
    return std::exchange(untold_, 0);
  }
  std::uint64_t total() const { return total_; }

 private:
  std::optional<Micros> lastLine_;
  std::uint64_t untold_ = 0;
  std::uint64_t total_ = 0;
};

}  // namespace strandlink::protocol::rtp
