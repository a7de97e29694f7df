// The system part of the recovery journal as values: what the packets since the
// checkpoint did to the whole device rather than to one channel. Each part is
// present only when the history touched it. `recent` marks, as on the channel
// parts, what the packet just before the journal's own carried (S bit 0); a
// part's own flag is kept apart from its elements', since a peer may set either.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace strandlink::protocol::rtp {

template <typename T>
struct RecentValue {
  T value{};
  bool recent = false;
  friend bool operator==(const RecentValue&, const RecentValue&) = default;
};

// System Reset and Tune Request counts (mod 128) and the last Song Select.
struct SimpleSystemCommands {
  std::optional<RecentValue<std::uint8_t>> resets;
  std::optional<RecentValue<std::uint8_t>> tuneRequests;
  std::optional<RecentValue<std::uint8_t>> song;
  bool recent = false;
  friend bool operator==(const SimpleSystemCommands&, const SimpleSystemCommands&) = default;
};

// Start, Stop, Continue, Song Position Pointer and the clocks after them.
struct SequencerState {
  bool running = false;                    // the last of Start, Continue and Stop was not Stop
  std::optional<std::uint32_t> position;   // 19 bits, in MIDI clocks
  std::optional<std::uint32_t> timeTools;  // 24 bits, read and kept, never written
  bool recent = false;
  friend bool operator==(const SequencerState&, const SequencerState&) = default;
};

// MIDI time code. `complete` is the last complete time: a full frame's hours,
// minutes, seconds and frames octets, or (`quarterFrames`) a series of quarter
// frames' eight nibbles, message type 0 in the top four bits, the time two frames on
// when the series ran forward. `partial` holds the nibbles of a series under way,
// from its first type up (or, `backward`, down) to `point`, the others 0; without
// it, `point` is 7 forward and 0 backward.
struct TimeCodeState {
  bool quarterFrames = false;
  bool backward = false;
  std::uint8_t point = 7;
  std::optional<std::uint32_t> complete;
  std::optional<std::uint32_t> partial;
  bool recent = false;
  friend bool operator==(const TimeCodeState&, const TimeCodeState&) = default;
};

// One SysEx: `data` is what lies between F0 and F7, from octet `first` on when a
// peer sent only its tail. This side applies whole commands only: status 3 (ended
// by F7), data present and no `first`. The logs have no header of their own: the
// first log's S bit is the whole list's, so its own `recent` is not on the wire and
// is read back as that of the log after it (see system_codec.cpp).
struct SysExLog {
  std::optional<std::uint8_t> typeCount;  // TCOUNT: the SysEx of this one's kind so far, mod 256
  std::optional<std::uint8_t> count;      // COUNT: every SysEx so far, mod 256
  std::optional<std::uint32_t> first;
  std::optional<std::vector<std::uint8_t>> data;
  std::uint8_t status = 3;
  bool recent = false;

  bool whole() const { return status == 3 && data && !first; }
  friend bool operator==(const SysExLog&, const SysExLog&) = default;
};

struct SystemJournal {
  std::optional<SimpleSystemCommands> simple;
  std::optional<RecentValue<std::uint8_t>> activeSense;  // count mod 128
  std::optional<SequencerState> sequencer;
  std::optional<TimeCodeState> timeCode;
  std::vector<SysExLog> sysEx;
  bool recent = false;
  // False when a part of a peer's system journal could not be read: what was read
  // before it holds, the rest is not applied.
  bool complete = true;

  bool empty() const { return !simple && !activeSense && !sequencer && !timeCode && sysEx.empty(); }
  friend bool operator==(const SystemJournal&, const SystemJournal&) = default;
};

}  // namespace strandlink::protocol::rtp
