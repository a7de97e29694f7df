#include "protocol/rtp/sequence_tracker.h"

namespace strandlink::protocol::rtp {

namespace {
constexpr int kWindow = 64;
// Further ahead than a few seconds of loss at a player's rate is not believed alone.
constexpr int kFarAhead = 300;
// The far packet and the two after it, in order: a blind forger cannot follow on.
constexpr int kJumpAgreement = 3;
}  // namespace

bool SequenceTracker::received(std::uint16_t sequence) {
  if (!highest_) {
    highest_ = sequence;
    seen_ = 1;
    return true;
  }
  // The signed distance on the 16-bit circle: ahead by up to 32767, behind otherwise.
  const auto step = static_cast<std::int16_t>(static_cast<std::uint16_t>(sequence - *highest_));
  if (step > 0 && step <= kFarAhead) {
    advance(sequence, step);
    return true;
  }
  if (step <= 0 && -step < kWindow) return arrivedLate(-step);
  return farOff(sequence);
}

void SequenceTracker::restart() {
  highest_.reset();
  seen_ = 0;
  jump_.reset();
}

// A numbering that the following packets agree with is the sender's new one: the
// gap is no count of losses, which would be a guess.
bool SequenceTracker::farOff(std::uint16_t sequence) {
  if (jump_ && sequence == static_cast<std::uint16_t>(jump_->last + 1)) {
    jump_->last = sequence;
    ++jump_->agreeing;
  } else {
    jump_ = Jump{sequence, 1};
  }
  if (jump_->agreeing < kJumpAgreement) {
    ++disbelieved_;
    return false;
  }
  jump_.reset();
  highest_ = sequence;
  seen_ = 1;
  return true;
}

void SequenceTracker::advance(std::uint16_t sequence, int step) {
  lost_ += static_cast<std::uint64_t>(step - 1);
  seen_ = step >= kWindow ? 1 : (seen_ << step) | 1;
  highest_ = sequence;
}

bool SequenceTracker::arrivedLate(int back) {
  const std::uint64_t bit = std::uint64_t{1} << back;
  if (seen_ & bit) {
    ++duplicates_;
    return false;
  }
  seen_ |= bit;
  if (lost_ > 0) --lost_;
  return true;
}

}  // namespace strandlink::protocol::rtp
