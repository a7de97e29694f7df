// One MIDI 1.0 message of any kind, whole: a channel or system common message
// (1 to 3 bytes), a real-time byte, or a SysEx from F0 to F7 of any length. The
// one form a message has from the input that captured it, through the link and
// the peer protocol, to the output that plays it. Messages of up to three bytes
// live inline, so copying a short message never allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "midi/short_message.h"

namespace strandlink::midi {

class MidiEvent {
 public:
  MidiEvent() = default;
  // A copy of these bytes; nothing is checked (see wellFormed()).
  static MidiEvent fromBytes(std::span<const std::uint8_t> bytes);
  // The bytes the status byte calls for.
  static MidiEvent fromShort(const ShortMessage& message);

  std::span<const std::uint8_t> bytes() const;
  std::size_t size() const { return long_.empty() ? inlineSize_ : long_.size(); }
  bool empty() const { return size() == 0; }
  std::uint8_t status() const { return empty() ? 0 : bytes()[0]; }
  bool isSysEx() const { return status() == 0xF0; }
  bool isRealTime() const { return size() == 1 && status() >= 0xF8; }

  // A whole message an output can play: a short message with every data byte its
  // status calls for (and no more), or F0, data bytes, F7.
  bool wellFormed() const;
  // The short message it is; nothing for a SysEx or a message that is not well formed.
  std::optional<ShortMessage> shortMessage() const;

  friend bool operator==(const MidiEvent& a, const MidiEvent& b);

 private:
  std::array<std::uint8_t, 3> inline_{};
  std::uint8_t inlineSize_ = 0;
  std::vector<std::uint8_t> long_;  // used for anything longer than three bytes
};

}  // namespace strandlink::midi
