#include "link/steady_timing.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace strandlink::link {

namespace {

// a - b of two values modulo 2^32 that lie within 2^31 of each other.
std::int64_t wrapDifference(std::uint32_t a, std::uint32_t b) { return std::int32_t(a - b); }

}  // namespace

// The stamp plus the offset, taken in 32 bits, lies within a second of the
// arrival's own low 32 bits: the full moment is the arrival moved by the difference.
std::int64_t SteadySchedule::stamped(std::uint32_t stamp, std::int64_t arrival, std::int64_t delay) {
  const std::uint32_t difference = std::uint32_t(std::uint64_t(arrival)) - stamp;
  if (least_ && wild(difference)) {
    if (!jumpBelieved(difference)) return unstamped(arrival, delay);
    const std::uint32_t least = jumpLeast_;
    const std::optional<std::int64_t> last = last_;  // nothing is reordered across the jump
    reset();
    last_ = last;
    // The window knows the least of them; the offset settles down to it gently
    // from this message's own difference, as it does from a first message.
    learn(least, arrival);
    offset_ = difference;
    lastStamp_ = stamp;
    return inOrder(arrival + wrapDifference(*offset_, difference) + delay);
  }
  jumpVotes_ = 0;
  learn(difference, arrival);
  const std::int64_t above = offset_ ? wrapDifference(*offset_, *least_) : 0;
  if (!offset_ || above <= 0) {
    offset_ = least_;
  } else {
    const std::int64_t distance = std::max<std::int64_t>(wrapDifference(stamp, lastStamp_), 0);
    *offset_ -= std::uint32_t(std::min(above, distance / kSettleDivisor));
  }
  lastStamp_ = stamp;
  return inOrder(arrival + wrapDifference(*offset_, difference) + delay);
}

bool SteadySchedule::wild(std::uint32_t difference) const {
  const std::int64_t fromLeast = wrapDifference(difference, *least_);
  return fromLeast < -kAheadMicros || fromLeast > kJumpMicros;
}

bool SteadySchedule::jumpBelieved(std::uint32_t difference) {
  if (jumpVotes_ == 0 || std::abs(wrapDifference(difference, jumpFirst_)) > kAheadMicros) {
    jumpVotes_ = 1;
    jumpFirst_ = jumpLeast_ = difference;
  } else {
    ++jumpVotes_;
    if (wrapDifference(difference, jumpLeast_) < 0) jumpLeast_ = difference;
  }
  return jumpVotes_ >= kJumpVotes;
}

std::int64_t SteadySchedule::unstamped(std::int64_t arrival, std::int64_t delay) { return inOrder(arrival + delay); }

void SteadySchedule::reset() {
  buckets_.fill(Bucket{});
  least_.reset();
  offset_.reset();
  last_.reset();
  jumpVotes_ = 0;
}

// Within a bucket the least few are kept; across the window the least that several
// buckets reached (see the header). A rise clears the buckets from before it.
void SteadySchedule::learn(std::uint32_t difference, std::int64_t arrival) {
  const std::int64_t index = arrival / kBucketMicros;
  Bucket& bucket = buckets_[std::size_t(index) % kBuckets];
  if (bucket.index != index) bucket = Bucket{index, {}, 0};
  keepLow(bucket, difference);
  const std::uint32_t reference = least_.value_or(difference);
  const std::int64_t inUse = offset_ ? wrapDifference(*offset_, reference) : 0;
  std::int64_t least = believedLeast(index, reference);
  if (const std::optional<std::int64_t> risen = risenLeast(index, reference, std::max(least, inUse))) {
    for (Bucket& b : buckets_)
      if (b.index < index - std::int64_t(kConfirmingBuckets)) b = Bucket{};
    least = believedLeast(index, reference);
  }
  least_ = reference + std::uint32_t(least);
}

// In a dense stream, the least that kConfirmingBuckets buckets in a row all
// reached, the lowest of such runs in the window: an early hiccup touches a
// bucket or two, a step lasts.
void SteadySchedule::keepLow(Bucket& bucket, std::uint32_t difference) {
  const std::size_t kept = std::min<std::size_t>(bucket.count, kHiccupMessages);
  std::size_t at = kept;
  while (at > 0 && wrapDifference(difference, bucket.lows[at - 1]) < 0) {
    if (at < kHiccupMessages) bucket.lows[at] = bucket.lows[at - 1];
    --at;
  }
  if (at < kHiccupMessages) bucket.lows[at] = difference;
  ++bucket.count;
}

std::int64_t SteadySchedule::believedLeast(std::int64_t index, std::uint32_t reference) const {
  std::array<const Bucket*, kBuckets> inWindow{};
  std::size_t n = 0;
  for (const Bucket& b : buckets_)
    if (b.index > index - std::int64_t(kBuckets) && b.index <= index) inWindow[n++] = &b;
  std::sort(inWindow.begin(), inWindow.begin() + std::ptrdiff_t(n),
            [](const Bucket* a, const Bucket* b) { return a->index < b->index; });
  const auto at = [&](std::size_t i) { return wrapDifference(inWindow[i]->value(), reference); };
  // A few notes now and then, or too few buckets, outvote nothing: their least.
  const Bucket& previous = buckets_[std::size_t(index - 1) % kBuckets];
  const bool dense = previous.index == index - 1 && previous.count >= kFullBucket;
  const std::size_t run = dense && n >= kConfirmingBuckets ? kConfirmingBuckets : 1;
  std::int64_t least = INT64_MAX;
  for (std::size_t first = 0; first + run <= n; ++first) {
    std::int64_t reached = INT64_MIN;
    for (std::size_t i = first; i < first + run; ++i) reached = std::max(reached, at(i));
    least = std::min(least, reached);
  }
  return least;
}

std::optional<std::int64_t> SteadySchedule::risenLeast(std::int64_t index, std::uint32_t reference,
                                                       std::int64_t above) const {
  std::optional<std::int64_t> least;
  for (std::int64_t i = index - std::int64_t(kConfirmingBuckets); i < index; ++i) {
    const Bucket& b = buckets_[std::size_t(i) % kBuckets];
    if (b.index != i || b.count < kFullBucket) return std::nullopt;
    const std::int64_t l = wrapDifference(b.value(), reference);
    if (l <= above + kRiseMicros) return std::nullopt;
    least = least ? std::min(*least, l) : l;
  }
  return least;
}

std::int64_t SteadySchedule::inOrder(std::int64_t moment) {
  last_ = last_ ? std::max(*last_, moment) : moment;
  return *last_;
}

}  // namespace strandlink::link
