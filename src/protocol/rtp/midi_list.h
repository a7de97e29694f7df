// The MIDI list of a command section: commands, each after a delta time, with
// running status undone on the way in so that every command carries its status.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "midi/midi_event.h"
#include "protocol/rtp/decode_error.h"

namespace strandlink::protocol::rtp {

// One command of a list as the list codes it, status byte included: a whole MIDI
// message, a real-time byte, or a SysEx segment with its head and tail octets
// (F0 ... F0 first, F7 ... F0 middle, F7 ... F7 last, F7 F4 cancel; a 0xF5 tail
// marks a SysEx whose F7 the source left out).
struct TimedCommand {
  std::uint32_t offset = 0;  // ticks after the packet's RTP timestamp
  midi::MidiEvent bytes;

  friend bool operator==(const TimedCommand&, const TimedCommand&) = default;
};

// Decodes a whole list. `firstHasDeltaTime` is the section header's Z flag. A list
// may end with a delta time and no command after it.
DecodeError decodeMidiList(std::span<const std::uint8_t> list, bool firstHasDeltaTime, std::vector<TimedCommand>& out);

}  // namespace strandlink::protocol::rtp
