// The last minute of a link as the latency plot draws it: one sample a second,
// the oldest going first. No widgets here, so it is told apart from its drawing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/link_figures.h"

namespace strandlink::ui {

struct LatencySample {
  std::optional<double> ms;  // the round trip; none while the peer does not answer
  std::uint64_t lost = 0;    // losses new in this second
};

class LatencyHistory {
 public:
  static constexpr std::size_t kSeconds = 60;

  // This second's sample from the figures: the round trip while the peer answers
  // (a group's members are heard, never asked: none), and what was lost since the
  // last sample.
  void record(const protocol::LinkFigures& figures);
  void clear() { *this = {}; }

  std::size_t size() const { return size_; }
  // 0 is the oldest.
  const LatencySample& at(std::size_t i) const { return ring_[(next_ + kSeconds - size_ + i) % kSeconds]; }
  std::optional<double> latestMs() const { return size_ == 0 ? std::nullopt : at(size_ - 1).ms; }
  double highestMs() const;
  std::uint64_t lost() const;

 private:
  std::array<LatencySample, kSeconds> ring_{};
  std::size_t next_ = 0;
  std::size_t size_ = 0;
  std::optional<std::uint64_t> lostBefore_;
};

}  // namespace strandlink::ui
