#include "link/steady_timing.h"

#include <algorithm>
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

void SteadySchedule::learn(std::uint32_t difference, std::int64_t arrival) {
  const std::int64_t index = arrival / kBucketMicros;
  Bucket& bucket = buckets_[std::size_t(index) % kBuckets];
  if (bucket.index != index) bucket = Bucket{index};
  bucket.add(difference);
  least_ = bucket.least;
  for (const Bucket& b : buckets_) {
    const bool inWindow = b.index > index - std::int64_t(kBuckets) && b.index <= index;
    if (inWindow && wrapDifference(b.least, *least_) < 0) least_ = b.least;
  }
}

// Kept in order by insertion, a comparison or two for most messages. One that came
// far later than the second's earliest (a stranger's old stamp) is not counted:
// it would move which of the earliest stands for the second.
void SteadySchedule::Bucket::add(std::uint32_t difference) {
  if (count > 0 && wrapDifference(difference, earliest[0]) > kAheadMicros) return;
  std::size_t at = std::min(count, kKept);
  while (at > 0 && wrapDifference(difference, earliest[at - 1]) < 0) {
    if (at < kKept) earliest[at] = earliest[at - 1];
    --at;
  }
  if (at < kKept) earliest[at] = difference;
  ++count;
  const std::uint32_t rank = earliest[std::min(count / 3, std::min(count, kKept) - 1)];
  if (count <= 3 || wrapDifference(rank, least) < 0) least = rank;
}

std::int64_t SteadySchedule::inOrder(std::int64_t moment) {
  last_ = last_ ? std::max(*last_, moment) : moment;
  return *last_;
}

}  // namespace strandlink::link
