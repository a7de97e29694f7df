#include "ui/latency_history.h"

#include <algorithm>

namespace strandlink::ui {

namespace {

// A count that only grows while the session runs, of what each way of measuring
// can tell was lost. The probes' is of the last minute: a loss falling out of it
// while a new one comes counts as none, a small error on a plot.
std::uint64_t lostSoFar(const protocol::LinkFigures& f) {
  if (f.measure == protocol::Measure::Group) return f.link.dropped;
  if (f.measure == protocol::Measure::Sessions) return f.link.commandsLost;
  if (f.peers.empty()) return 0;
  const protocol::PeerFigures& p = f.peers.front();
  return f.measure == protocol::Measure::Probes ? std::uint64_t(p.probesLost) : p.packetsLost;
}

// What a count that only grows gained since the last sample; the first sample
// gains nothing.
std::uint64_t growth(std::uint64_t now, std::optional<std::uint64_t>& before) {
  const std::uint64_t gained = now > before.value_or(now) ? now - *before : 0;
  before = now;
  return gained;
}

}  // namespace

void LatencyHistory::record(const protocol::LinkFigures& f) {
  LatencySample sample;
  const bool group = f.measure == protocol::Measure::Group;
  // A link of another kind starts a picture of its own.
  if (const auto quantity = group ? PlotQuantity::MessagesHeard : PlotQuantity::RoundTripMs; quantity != quantity_) {
    clear();
    quantity_ = quantity;
  }
  if (group) {
    sample.value = double(growth(f.link.messagesIn, heardBefore_));
  } else if (!f.peers.empty() && f.link.status == protocol::LinkStatus::Connected) {
    sample.value = f.peers.front().roundTripMs;
  }
  sample.lost = growth(lostSoFar(f), lostBefore_);
  ring_[next_] = sample;
  next_ = (next_ + 1) % kSeconds;
  size_ = std::min(size_ + 1, kSeconds);
}

double LatencyHistory::highest() const {
  double highest = 0;
  for (std::size_t i = 0; i < size_; ++i) highest = std::max(highest, at(i).value.value_or(0));
  return highest;
}

std::uint64_t LatencyHistory::lost() const {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < size_; ++i) sum += at(i).lost;
  return sum;
}

}  // namespace strandlink::ui
