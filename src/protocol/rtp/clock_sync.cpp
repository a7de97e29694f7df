#include "protocol/rtp/clock_sync.h"

#include <algorithm>

namespace strandlink::protocol::rtp {

namespace {

// t1 and t3 on one clock, t2 on the other: the offset of t2's clock from t1's.
std::optional<SyncSample> sampleFrom(std::uint64_t t1, std::uint64_t t2, std::uint64_t t3) {
  const auto roundTrip = static_cast<std::int64_t>(t3 - t1);
  if (roundTrip < 0) return std::nullopt;  // garbled or replayed times
  const auto midway = static_cast<std::int64_t>(t1) + roundTrip / 2;
  return SyncSample{roundTrip, static_cast<std::int64_t>(t2) - midway};
}

}  // namespace

std::uint64_t toSyncTicks(Micros now) { return static_cast<std::uint64_t>(now / kMicrosPerTick); }

std::optional<SyncSample> sampleFromOwnExchange(const ClockSync& closing) {
  const auto& t = closing.timestamps;
  return sampleFrom(t[0], t[1], t[2]);
}

std::optional<SyncSample> sampleFromPeerExchange(const ClockSync& closing) {
  const auto& t = closing.timestamps;
  auto sample = sampleFrom(t[0], t[1], t[2]);
  if (sample) sample->offset = -sample->offset;  // there the peer's clock was the base
  return sample;
}

void ClockEstimate::add(const SyncSample& sample) {
  recent_[next_] = sample;
  next_ = (next_ + 1) % kKept;
  count_ = std::min(count_ + 1, kKept);
  ++total_;
}

std::optional<SyncSample> ClockEstimate::best() const {
  if (count_ == 0) return std::nullopt;
  const auto end = recent_.begin() + static_cast<std::ptrdiff_t>(count_);
  return *std::min_element(recent_.begin(), end,
                           [](const SyncSample& a, const SyncSample& b) { return a.roundTrip < b.roundTrip; });
}

void SyncSchedule::exchangeStarted(Micros now, bool synced) {
  ++sent_;
  if (sent_ < kBurstExchanges) next_ = now + kBurstInterval;
  else next_ = now + (synced ? kSteadyInterval : kUnsyncedInterval);
}

}  // namespace strandlink::protocol::rtp
