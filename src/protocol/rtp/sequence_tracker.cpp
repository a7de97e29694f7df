#include "protocol/rtp/sequence_tracker.h"

namespace strandlink::protocol::rtp {

namespace {
constexpr int kWindow = 64;
}

void SequenceTracker::received(std::uint16_t sequence) {
  if (!highest_) {
    highest_ = sequence;
    seen_ = 1;
    return;
  }
  // The signed distance on the 16-bit circle: ahead by up to 32767, behind otherwise.
  const auto step = static_cast<std::int16_t>(static_cast<std::uint16_t>(sequence - *highest_));
  if (step > 0) advance(sequence, step);
  else arrivedLate(-step);
}

void SequenceTracker::restart() {
  highest_.reset();
  seen_ = 0;
}

void SequenceTracker::advance(std::uint16_t sequence, int step) {
  lost_ += static_cast<std::uint64_t>(step - 1);
  seen_ = step >= kWindow ? 1 : (seen_ << step) | 1;
  highest_ = sequence;
}

void SequenceTracker::arrivedLate(int back) {
  if (back >= kWindow) return;  // too old to tell a late packet from a duplicate
  const std::uint64_t bit = std::uint64_t{1} << back;
  if (seen_ & bit) {
    ++duplicates_;
    return;
  }
  seen_ |= bit;
  if (lost_ > 0) --lost_;
}

}  // namespace strandlink::protocol::rtp
