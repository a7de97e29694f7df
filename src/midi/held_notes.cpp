#include "midi/held_notes.h"

namespace strandlink::midi {

namespace {

constexpr std::uint8_t kSustain = 64;
constexpr std::uint8_t kAllSoundOff = 120;
constexpr std::uint8_t kResetControllers = 121;
constexpr std::uint8_t kAllNotesOff = 123;

midi::ShortMessage message(std::uint8_t status, std::uint8_t d1, std::uint8_t d2) {
  return midi::ShortMessage::withStatusSize(status, d1, d2);
}

}  // namespace

void HeldSet::merge(const HeldSet& other) {
  for (std::size_t c = 0; c < channels_.size(); ++c) {
    channels_[c].notes |= other.channels_[c].notes;
    channels_[c].sustain |= other.channels_[c].sustain;
    channels_[c].bent |= other.channels_[c].bent;
  }
}

void HeldSet::remove(const HeldSet& other) {
  for (std::size_t c = 0; c < channels_.size(); ++c) {
    channels_[c].notes &= ~other.channels_[c].notes;
    channels_[c].sustain &= !other.channels_[c].sustain;
    channels_[c].bent &= !other.channels_[c].bent;
  }
}

bool HeldSet::empty() const {
  for (const Channel& ch : channels_)
    if (ch.notes.any() || ch.sustain || ch.bent) return false;
  return true;
}

Released HeldSet::release(const std::function<void(const midi::ShortMessage&)>& send) const {
  Released sent;
  for (std::uint8_t c = 0; c < 16; ++c) {
    const Channel& ch = channels_[c];
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
  }
  return sent;
}

void HeldNotes::track(const midi::ShortMessage& m) {
  const std::uint8_t status = m.bytes[0];
  const std::uint8_t d1 = m.bytes[1] & 0x7F, d2 = m.bytes[2] & 0x7F;
  if (status == 0xFF) {  // a system reset silences the receiver by itself
    forget();
    return;
  }
  if (status < 0x80 || status >= 0xF0) return;
  Channel& ch = channels_[status & 0x0F];
  std::atomic<std::uint64_t>& word = ch.notes[d1 / 64];
  const std::uint64_t bit = std::uint64_t(1) << (d1 % 64);
  switch (status & 0xF0) {
    case 0x90:
      if (d2 != 0) word.fetch_or(bit);  // velocity 0 is a note-off
      else word.fetch_and(~bit);
      break;
    case 0x80: word.fetch_and(~bit); break;
    case 0xB0:
      if (d1 == kSustain) {
        if (d2 >= 64) ch.flags.fetch_or(kSustainBit);
        else ch.flags.fetch_and(std::uint8_t(~kSustainBit));
      }
      if (d1 == kAllSoundOff || d1 == kAllNotesOff) {
        ch.notes[0].store(0);
        ch.notes[1].store(0);
      }
      if (d1 == kResetControllers) ch.flags.store(0);
      break;
    case 0xE0:
      if ((d1 | (d2 << 7)) != 0x2000) ch.flags.fetch_or(kBentBit);
      else ch.flags.fetch_and(std::uint8_t(~kBentBit));
      break;
    default: break;
  }
}

namespace {

std::bitset<128> noteBits(std::uint64_t low, std::uint64_t high) {
  return std::bitset<128>(high) << 64 | std::bitset<128>(low);
}

}  // namespace

HeldSet HeldNotes::take() {
  HeldSet set;
  for (std::size_t c = 0; c < channels_.size(); ++c) {
    Channel& ch = channels_[c];
    const std::uint64_t low = ch.notes[0].exchange(0), high = ch.notes[1].exchange(0);
    const std::uint8_t flags = ch.flags.exchange(0);
    set.channels_[c] = {noteBits(low, high), (flags & kSustainBit) != 0, (flags & kBentBit) != 0};
  }
  return set;
}

HeldSet HeldNotes::snapshot() const {
  HeldSet set;
  for (std::size_t c = 0; c < channels_.size(); ++c) {
    const Channel& ch = channels_[c];
    const std::uint8_t flags = ch.flags.load();
    set.channels_[c] = {noteBits(ch.notes[0].load(), ch.notes[1].load()), (flags & kSustainBit) != 0,
                        (flags & kBentBit) != 0};
  }
  return set;
}

}  // namespace strandlink::midi
