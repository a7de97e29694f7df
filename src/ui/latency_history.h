// The last minute of a link as the latency plot draws it: one sample a second,
// the oldest going first. No widgets here, so it is told apart from its drawing.
// A peer's round trip where one answers; a group's members are heard, never
// asked, so there the messages heard each second.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/link_figures.h"

namespace strandlink::ui {

enum class PlotQuantity : std::uint8_t { RoundTripMs, MessagesHeard };

struct LatencySample {
  std::optional<double> value;  // none while the peer does not answer
  std::uint64_t lost = 0;       // losses new in this second
};

class LatencyHistory {
 public:
  static constexpr std::size_t kSeconds = 60;

  // This second's sample from the figures: the round trip while the peer answers,
  // a group's messages heard since the last sample, and what was lost since then.
  void record(const protocol::LinkFigures& figures);
  PlotQuantity quantity() const { return quantity_; }
  void clear() { *this = {}; }

  std::size_t size() const { return size_; }
  // 0 is the oldest.
  const LatencySample& at(std::size_t i) const { return ring_[(next_ + kSeconds - size_ + i) % kSeconds]; }
  std::optional<double> latest() const { return size_ == 0 ? std::nullopt : at(size_ - 1).value; }
  double highest() const;
  std::uint64_t lost() const;

 private:
  std::array<LatencySample, kSeconds> ring_{};
  std::size_t next_ = 0;
  std::size_t size_ = 0;
  std::optional<std::uint64_t> lostBefore_;
  std::optional<std::uint64_t> heardBefore_;
  PlotQuantity quantity_ = PlotQuantity::RoundTripMs;
};

}  // namespace strandlink::ui
