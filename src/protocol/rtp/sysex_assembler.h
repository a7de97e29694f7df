// Puts the SysEx segments of incoming MIDI lists back together, across packets,
// into whole messages, and passes every other command through. A cancelled SysEx
// is dropped as if it had never begun; so is one whose segments stop making sense
// (a middle without a first, another command between segments, a packet lost in
// between) or that outgrows the bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "midi/midi_event.h"

namespace strandlink::protocol::rtp {

class SysExAssembler {
 public:
  explicit SysExAssembler(std::size_t maxSize = std::size_t{1} << 20) : maxSize_(maxSize) {}

  // The whole message this command completes or is, if any. A command an output
  // could not play (an undefined system common message, say) gives none.
  std::optional<midi::MidiEvent> push(const midi::MidiEvent& command);
  // A packet was lost: a SysEx in progress cannot be whole any more.
  void reset();

  std::uint64_t cancelled() const { return cancelled_; }
  // Partial SysEx and commands that were dropped for any other reason.
  std::uint64_t dropped() const { return dropped_; }

 private:
  enum class State { Idle, Collecting, Discarding };

  std::optional<midi::MidiEvent> pushSegment(std::span<const std::uint8_t> bytes);
  std::optional<midi::MidiEvent> finish();
  void abandon();

  std::size_t maxSize_;
  State state_ = State::Idle;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t cancelled_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace strandlink::protocol::rtp
