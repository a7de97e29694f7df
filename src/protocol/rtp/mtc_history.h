// The MIDI time code a stream has run, kept as the journal's time code part says
// it: the last complete time (a full frame, or a series of eight quarter frames)
// and the quarter frames of the series under way. A series runs from message type
// 0 up to 7 while the tape moves forward and from 7 down to 0 while it moves back;
// one that starts at any other type builds nothing until the next 0 or 7.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "protocol/rtp/system_journal.h"

namespace strandlink::protocol::rtp {

class MtcHistory {
 public:
  // A full frame's hours, minutes, seconds and frames octets: a locate, which ends
  // any series under way.
  void fullFrame(std::uint32_t time, std::uint64_t stamp);
  // A quarter frame's data octet: its message type in bits 4 to 6, its nibble below.
  void quarterFrame(std::uint8_t data, std::uint64_t stamp);

  // The time code part for the packets from `from` up to the one before `self`:
  // nothing when none of them carried time code.
  std::optional<TimeCodeState> journal(std::uint64_t from, std::uint64_t self) const;

  // The last complete time as the journal writes it (TimeCodeState::complete).
  const std::optional<std::uint32_t>& complete() const { return complete_; }
  bool completeFromQuarterFrames() const { return quarterComplete_; }

 private:
  std::uint32_t packed(int low, int high) const;  // the series' nibbles of types low to high

  std::optional<std::uint32_t> complete_;
  bool quarterComplete_ = false;
  std::uint64_t completeStamp_ = 0;
  std::array<std::uint8_t, 8> nibbles_{};
  int last_ = -1;                       // the last quarter frame's type; -1 before any, and after a full frame
  int forward_ = 0;                     // types 0 up to forward_ - 1 in a row, just now
  int backward_ = 0;                    // types 7 down to 8 - backward_ in a row, just now
  bool back_ = false;                   // the last two quarter frames went down
  std::optional<std::uint64_t> stamp_;  // of the last time code of either kind
};

// A forward series' time two frames on, as the journal writes it: the series is
// whole only two frames after the time it carries. The rate comes from the
// nibbles (drop frame at 29.97 leaves out frames 0 and 1 of most minutes), and the
// bits the time does not use stay as they were.
std::uint32_t twoFramesLater(std::uint32_t nibbles);

}  // namespace strandlink::protocol::rtp
