// What the MIDI messages of a stream have left set, per channel: which notes sound,
// the controllers, program, pitch wheel, pressures and RPN/NRPN values; and beside
// them the system's (system_state.h). The sender
// keeps one to know what its journal must say (each element stamped with the
// packet that last changed it), the receiver one to know what it has played.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

#include "midi/midi_event.h"
#include "protocol/rtp/stamped_value.h"
#include "protocol/rtp/system_state.h"

namespace strandlink::protocol::rtp {

struct NoteState {
  std::uint8_t velocity = 0;  // 0: not sounding
  std::uint64_t stamp = 0;
  std::int64_t onMs = 0;  // when the note-on came
};

// Identifies an RPN or NRPN: the NRPN flag above its 14-bit number.
using ParameterKey = std::uint16_t;
inline ParameterKey parameterKey(bool nonRegistered, std::uint16_t number) {
  return static_cast<ParameterKey>((nonRegistered ? 0x4000 : 0) | (number & 0x3FFF));
}

struct ParameterState {
  StampedValue entryMsb;
  StampedValue entryLsb;
  std::uint64_t stamp = 0;  // last selected or given a value
  std::uint64_t used = 0;   // the channel's use count then: a receiver's stamps are all 0
};

// The parameters a channel keeps: a device uses a handful, and a stream that names
// thousands must not grow the session's memory with them. Past this many, the least
// recently used goes.
inline constexpr std::size_t kMaxParametersPerChannel = 64;

struct ChannelState {
  std::array<NoteState, 128> notes{};
  std::array<StampedValue, 128> controllers{};
  StampedValue program;
  StampedValue bankMsbAtProgram;  // the bank select in force at the program change
  StampedValue bankLsbAtProgram;
  StampedValue pitchWheel;
  StampedValue channelPressure;
  std::array<StampedValue, 128> notePressures{};
  std::map<ParameterKey, ParameterState> parameters;  // at most kMaxParametersPerChannel
  std::uint64_t parameterUses = 0;
  // The parameter numbers the data entry controllers may apply to, RPN (101/100)
  // and NRPN (99/98) apart as devices keep them: the kind chosen last is in force.
  bool selectionNonRegistered = false;
  std::array<StampedValue, 2> selectionMsb{}, selectionLsb{};  // RPN, NRPN
  std::uint64_t selectionStamp = 0;
  const StampedValue& selectedMsb() const { return selectionMsb[selectionNonRegistered]; }
  const StampedValue& selectedLsb() const { return selectionLsb[selectionNonRegistered]; }
  // The latest stamp among the notes, controllers and note pressures, so that a
  // sender need not look through all 128 of each for what changed.
  std::uint64_t notesStamp = 0, controllersStamp = 0, notePressuresStamp = 0;
  std::uint64_t allNotesOffStamp = 0;  // the last All Notes Off or All Sound Off
  std::uint64_t resetStamp = 0;        // the last Reset All Controllers

  std::uint64_t latestStamp() const;
  std::optional<ParameterKey> selected() const;
};

// Controllers the parameter part carries rather than the controller part: data
// entry, increment and decrement, and the RPN/NRPN selection.
bool isParameterController(std::uint8_t number);
// Channel mode messages (120-127), never restored by value.
inline bool isModeController(std::uint8_t number) { return number >= 120; }

class MidiState {
 public:
  // Records what one message changes, with the stamp of its packet and the time.
  void apply(midi::MidiEventView event, std::uint64_t stamp = 0, std::int64_t nowMs = 0);

  ChannelState& channel(int c) { return channels_[std::size_t(c)]; }
  const ChannelState& channel(int c) const { return channels_[std::size_t(c)]; }
  SystemState& system() { return system_; }
  const SystemState& system() const { return system_; }

 private:
  void applyController(ChannelState& c, std::uint8_t number, std::uint8_t value, std::uint64_t stamp);
  void resetControllers(ChannelState& c, std::uint64_t stamp);
  void resetDevice(std::uint64_t stamp);
  std::array<ChannelState, 16> channels_{};
  SystemState system_;
};

}  // namespace strandlink::protocol::rtp
