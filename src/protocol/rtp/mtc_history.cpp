#include "protocol/rtp/mtc_history.h"

namespace strandlink::protocol::rtp {

namespace {

unsigned nibble(std::uint32_t nibbles, int type) { return nibbles >> (28 - 4 * type) & 0x0F; }

// The bits of frames, seconds, minutes and hours that the odd message types carry
// above the even ones' four.
constexpr unsigned kHigh[] = {0x1, 0x3, 0x3, 0x1};

}  // namespace

std::uint32_t twoFramesLater(std::uint32_t nibbles) {
  unsigned t[4];  // frames, seconds, minutes, hours
  for (int k = 0; k < 4; ++k) t[k] = nibble(nibbles, 2 * k) | (nibble(nibbles, 2 * k + 1) & kHigh[k]) << 4;
  const unsigned rate = nibble(nibbles, 7) >> 1 & 0x03;  // 24, 25, 29.97 drop frame, 30
  const unsigned perSecond = rate == 0 ? 24 : rate == 1 ? 25 : 30;
  if ((t[0] += 2) >= perSecond) {
    t[0] -= perSecond;
    if (++t[1] >= 60) {
      t[1] = 0;
      if (++t[2] >= 60) t[2] = 0, t[3] = (t[3] + 1) % 24;
    }
    if (rate == 2 && t[1] == 0 && t[2] % 10 != 0) t[0] += 2;
  }
  std::uint32_t out = 0;
  for (int k = 0; k < 4; ++k) {
    const unsigned high = (nibble(nibbles, 2 * k + 1) & ~kHigh[k]) | (t[k] >> 4 & kHigh[k]);
    out |= (t[k] & 0x0F) << (28 - 8 * k) | high << (24 - 8 * k);
  }
  return out;
}

void MtcHistory::fullFrame(std::uint32_t time, std::uint64_t stamp) {
  complete_ = time, quarterComplete_ = false, completeStamp_ = stamp;
  // Which way the tape moves after a locate, the quarter frames after it tell.
  last_ = -1, forward_ = backward_ = 0, back_ = false;
  stamp_ = stamp;
}

void MtcHistory::quarterFrame(std::uint8_t data, std::uint64_t stamp) {
  const int type = data >> 4 & 0x07;
  const bool up = last_ >= 0 && type == (last_ + 1) % 8, down = last_ >= 0 && type == (last_ + 7) % 8;
  nibbles_[std::size_t(type)] = data & 0x0F;
  forward_ = type == 0 ? 1 : up && forward_ == type ? type + 1 : 0;
  backward_ = type == 7 ? 1 : down && backward_ == 7 - type ? backward_ + 1 : 0;
  // Forward unless the last two went down: the direction one alone cannot tell is
  // written as forward.
  back_ = down;
  if (forward_ == 8 || backward_ == 8) {
    const std::uint32_t time = packed(0, 7);
    complete_ = forward_ == 8 ? twoFramesLater(time) : time;
    quarterComplete_ = true, completeStamp_ = stamp;
  }
  last_ = type, stamp_ = stamp;
}

std::uint32_t MtcHistory::packed(int low, int high) const {
  std::uint32_t out = 0;
  for (int type = low; type <= high; ++type) out |= std::uint32_t(nibbles_[std::size_t(type)]) << (28 - 4 * type);
  return out;
}

std::optional<TimeCodeState> MtcHistory::journal(std::uint64_t from, std::uint64_t self) const {
  if (!stamp_ || *stamp_ < from || *stamp_ >= self) return std::nullopt;
  TimeCodeState f;
  f.recent = *stamp_ + 1 == self;
  f.backward = back_;
  // The complete time when what completed it is since the checkpoint: earlier, the
  // receiver has it already.
  if (complete_ && completeStamp_ >= from) f.complete = complete_, f.quarterFrames = quarterComplete_;
  // A series under way: its nibbles so far, and the type of its last quarter frame.
  // Going back, a 7 is one on its own already (POINT 7), as a 0 is going forward.
  if (!back_ && forward_ >= 1 && forward_ <= 7) {
    f.partial = packed(0, forward_ - 1), f.point = std::uint8_t(forward_ - 1);
  } else if (back_ && backward_ >= 1 && backward_ <= 7) {
    f.partial = packed(8 - backward_, 7), f.point = std::uint8_t(8 - backward_);
  } else {
    f.point = back_ ? 0 : 7;
  }
  return f;
}

}  // namespace strandlink::protocol::rtp
