#include "link/held_notes.h"

namespace strandlink::link {

namespace {

constexpr std::uint8_t kSustain = 64;
constexpr std::uint8_t kAllSoundOff = 120;
constexpr std::uint8_t kResetControllers = 121;
constexpr std::uint8_t kAllNotesOff = 123;

midi::ShortMessage message(std::uint8_t status, std::uint8_t d1, std::uint8_t d2) {
  return midi::ShortMessage::withStatusSize(status, d1, d2);
}

}  // namespace

void HeldNotes::track(const midi::ShortMessage& m) {
  const std::uint8_t status = m.bytes[0];
  const std::uint8_t d1 = m.bytes[1] & 0x7F, d2 = m.bytes[2] & 0x7F;
  if (status == 0xFF) {  // a system reset silences the receiver by itself
    channels_ = {};
    return;
  }
  if (status < 0x80 || status >= 0xF0) return;
  Channel& ch = channels_[status & 0x0F];
  switch (status & 0xF0) {
    case 0x90:
      ch.notes.set(d1, d2 != 0);  // velocity 0 is a note-off
      break;
    case 0x80:
      ch.notes.reset(d1);
      break;
    case 0xB0:
      if (d1 == kSustain) ch.sustain = d2 >= 64;
      if (d1 == kAllSoundOff || d1 == kAllNotesOff) ch.notes.reset();
      if (d1 == kResetControllers) ch.sustain = ch.bent = false;
      break;
    case 0xE0:
      ch.bent = (d1 | (d2 << 7)) != 0x2000;
      break;
    default:
      break;
  }
}

bool HeldNotes::empty() const {
  for (const Channel& ch : channels_)
    if (ch.notes.any() || ch.sustain || ch.bent) return false;
  return true;
}

Released HeldNotes::release(const std::function<void(const midi::ShortMessage&)>& send) {
  Released sent;
  for (std::uint8_t c = 0; c < 16; ++c) {
    Channel& ch = channels_[c];
    for (std::uint8_t note = 0; note < 128; ++note) {
      if (!ch.notes.test(note)) continue;
      send(message(0x80 | c, note, 0));
      ++sent.notes;
      ++sent.messages;
    }
    if (ch.sustain) {
      send(message(0xB0 | c, kSustain, 0));
      ++sent.messages;
    }
    if (ch.bent) {
      send(message(0xE0 | c, 0x00, 0x40));
      ++sent.messages;
    }
    ch = Channel{};
  }
  return sent;
}

}  // namespace strandlink::link
