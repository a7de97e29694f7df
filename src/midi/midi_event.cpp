#include "midi/midi_event.h"

#include <algorithm>

namespace strandlink::midi {

MidiEvent MidiEvent::fromBytes(std::span<const std::uint8_t> bytes) {
  MidiEvent e;
  if (bytes.size() <= e.inline_.size()) {
    std::copy(bytes.begin(), bytes.end(), e.inline_.begin());
    e.inlineSize_ = static_cast<std::uint8_t>(bytes.size());
  } else {
    e.long_.assign(bytes.begin(), bytes.end());
  }
  return e;
}

MidiEvent MidiEvent::fromShort(const ShortMessage& message) { return fromBytes(message.wireBytes()); }

std::span<const std::uint8_t> MidiEvent::bytes() const {
  if (!long_.empty()) return long_;
  return {inline_.data(), inlineSize_};
}

bool MidiEventView::wellFormed() const {
  const auto b = bytes_;
  if (b.empty()) return false;
  if (b.front() == 0xF0) {
    if (b.size() < 2 || b.back() != 0xF7) return false;
    // One pass without a call per byte: the real-time thread checks 64 KiB at a
    // time, and so do unoptimised sanitizer builds.
    const std::uint8_t* p = b.data();
    std::uint8_t any = 0;
    for (std::size_t i = 1, end = b.size() - 1; i < end; ++i) any |= p[i];
    return any < 0x80;
  }
  const int length = shortMessageLength(b.front());
  if (length == 0 || b.size() != std::size_t(length)) return false;
  return std::all_of(b.begin() + 1, b.end(), [](std::uint8_t x) { return x < 0x80; });
}

std::optional<ShortMessage> MidiEventView::shortMessage() const {
  if (isSysEx() || !wellFormed()) return std::nullopt;
  return ShortMessage::fromBytes(bytes_);
}

bool operator==(const MidiEvent& a, const MidiEvent& b) {
  const auto x = a.bytes();
  const auto y = b.bytes();
  return std::equal(x.begin(), x.end(), y.begin(), y.end());
}

}  // namespace strandlink::midi
