// What the system messages of a stream have left set for the whole device: resets
// and tune requests counted, the song, the sequencer's run state and position, the
// time code, and the SysEx that carry state (the last device reset and the master
// volume after it). Kept beside the channels (MidiState) by the sender, stamped,
// to know what its journal must say, and by the receiver to know what it has
// played.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "midi/midi_event.h"
#include "protocol/rtp/mtc_history.h"
#include "protocol/rtp/stamped_value.h"
#include "protocol/rtp/system_journal.h"

namespace strandlink::protocol::rtp {

enum class StateSysEx {
  Other,         // not journaled
  Reset,         // GM on, GM off, GM2 on, GS reset, XG on
  MasterVolume,  // universal real-time master volume
  FullFrame,     // a full-frame MIDI time code
};
// What a whole SysEx (F0 to F7) is to the journal.
StateSysEx classifySysEx(std::span<const std::uint8_t> message);

// A SysEx that carries state: its bytes between F0 and F7 (none: not set, or
// cleared by a reset) and how many of its kind were sent, mod 256.
struct SysExState {
  std::vector<std::uint8_t> data;
  std::uint8_t count = 0;
  std::uint64_t stamp = 0;
};

struct SystemState {
  StampedValue resets;        // System Reset count, mod 128
  StampedValue tuneRequests;  // count, mod 128
  StampedValue song;          // the last Song Select
  StampedValue activeSense;   // count, mod 128
  bool running = false;
  std::uint32_t position = 0;  // in MIDI clocks, 19 bits
  std::uint64_t sequencerStamp = 0;
  MtcHistory timeCode;
  SysExState reset;
  SysExState masterVolume;

  // Records one system message (status 0xF0 and up). True when it resets the
  // device: the caller then clears the channels as the device does.
  bool apply(midi::MidiEventView event, std::uint64_t stamp);
};

// What a sender's journal says of the system: what changed from `from` up to the
// packet before `self`. Nothing when the history touched none of it.
std::optional<SystemJournal> systemJournal(const SystemState& state, std::uint64_t from, std::uint64_t self);

}  // namespace strandlink::protocol::rtp
