// One MIDI 1.0 message of any kind, whole: a channel or system common message
// (1 to 3 bytes), a real-time byte, or a SysEx from F0 to F7 of any length. The
// one form a message has from the input that captured it, through the link and
// the peer protocol, to the output that plays it. Messages of up to three bytes
// live inline, so copying a short message never allocates.
//
// MidiEventView is the same message borrowed for the length of a call: what an
// input hands its handler (the bytes sit in the input's own preallocated storage,
// so the real-time thread never allocates to deliver a SysEx) and what an output
// is given to play.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "midi/short_message.h"

namespace strandlink::midi {

class MidiEvent;

// The longest message an input delivers, F0 and F7 included; a longer SysEx is
// dropped and counted (MidiInput::droppedMessages()).
inline constexpr std::size_t kMaxMessageBytes = 64 * 1024;

class MidiEventView {
 public:
  constexpr MidiEventView() = default;
  constexpr MidiEventView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  MidiEventView(const MidiEvent& event);

  std::span<const std::uint8_t> bytes() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  std::uint8_t status() const { return empty() ? 0 : bytes_[0]; }
  bool isSysEx() const { return status() == 0xF0; }
  bool isRealTime() const { return size() == 1 && status() >= 0xF8; }
  // A whole message an output can play: a short message with every data byte its
  // status calls for (and no more), or F0, data bytes, F7.
  bool wellFormed() const;
  // The short message it is; nothing for a SysEx or a message that is not well formed.
  std::optional<ShortMessage> shortMessage() const;

 private:
  std::span<const std::uint8_t> bytes_;
};

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
  std::uint8_t status() const { return view().status(); }
  bool isSysEx() const { return view().isSysEx(); }
  bool isRealTime() const { return view().isRealTime(); }
  bool wellFormed() const { return view().wellFormed(); }
  std::optional<ShortMessage> shortMessage() const { return view().shortMessage(); }
  MidiEventView view() const { return MidiEventView(bytes()); }

  friend bool operator==(const MidiEvent& a, const MidiEvent& b);

 private:
  std::array<std::uint8_t, 3> inline_{};
  std::uint8_t inlineSize_ = 0;
  std::vector<std::uint8_t> long_;  // used for anything longer than three bytes
};

inline MidiEventView::MidiEventView(const MidiEvent& event) : bytes_(event.bytes()) {}

}  // namespace strandlink::midi
