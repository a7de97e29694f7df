#include "protocol/midi2/ump_convert.h"

namespace strandlink::protocol::midi2 {

namespace {

// Data bytes a status byte takes, as MIDI 1.0 has it; -1: none such.
int dataBytesOf(std::uint8_t status) {
  if (status < 0x80) return -1;
  if (status < 0xF0) return (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
  switch (status) {
    case 0xF1:
    case 0xF3: return 1;
    case 0xF2: return 2;
    case 0xF6:
    case 0xF8:
    case 0xFA:
    case 0xFB:
    case 0xFC:
    case 0xFE:
    case 0xFF: return 0;
    default: return -1;
  }
}

std::uint8_t byteOf(std::uint32_t w, int index) { return std::uint8_t(w >> (24 - 8 * index)); }

}  // namespace

UmpReader::UmpReader(std::size_t maxSysEx) : sysex_(std::max<std::size_t>(maxSysEx, 2)) {}

void UmpReader::readSystem(std::uint32_t w, Short& out) {
  const std::uint8_t status = byteOf(w, 1);
  const int n = status >= 0xF0 ? dataBytesOf(status) : -1;
  if (n < 0) {
    ++counters_.notCarried;
    return;
  }
  out.add(status, byteOf(w, 2) & 0x7F, byteOf(w, 3) & 0x7F, std::uint8_t(1 + n));
}

void UmpReader::readMidi1(std::uint32_t w, Short& out) {
  const std::uint8_t status = byteOf(w, 1);
  if (status < 0x80 || status >= 0xF0) {
    ++counters_.notCarried;
    return;
  }
  out.add(status, byteOf(w, 2) & 0x7F, byteOf(w, 3) & 0x7F, std::uint8_t(1 + dataBytesOf(status)));
}

// The usual scaling down: the top bits of each value; a note-on never becomes a
// note-off by it; a parameter number becomes its four controllers; the per-note
// kinds, which MIDI 1.0 lacks, are counted and dropped.
void UmpReader::readMidi2(std::uint32_t w0, std::uint32_t w1, Short& out) {
  const std::uint8_t kind = byteOf(w0, 1) & 0xF0;
  const std::uint8_t channel = byteOf(w0, 1) & 0x0F;
  const std::uint8_t b2 = byteOf(w0, 2) & 0x7F;
  const std::uint8_t b3 = byteOf(w0, 3) & 0x7F;
  const auto top7 = [](std::uint32_t v) { return std::uint8_t(v >> 25); };
  switch (kind) {
    case 0x80: out.add(0x80 | channel, b2, std::uint8_t(w1 >> 25), 3); break;
    case 0x90: {
      std::uint8_t velocity = std::uint8_t(w1 >> 25);
      if (velocity == 0 && (w1 >> 16) != 0) velocity = 1;
      out.add(0x90 | channel, b2, velocity, 3);
      break;
    }
    case 0xA0: out.add(0xA0 | channel, b2, top7(w1), 3); break;
    case 0xB0: out.add(0xB0 | channel, b2, top7(w1), 3); break;
    case 0xD0: out.add(0xD0 | channel, top7(w1), 0, 2); break;
    case 0xE0: {
      const std::uint32_t bend = w1 >> 18;
      out.add(0xE0 | channel, std::uint8_t(bend & 0x7F), std::uint8_t(bend >> 7), 3);
      break;
    }
    case 0xC0:
      if (byteOf(w0, 3) & 0x01) {
        out.add(0xB0 | channel, 0, byteOf(w1, 2) & 0x7F, 3);
        out.add(0xB0 | channel, 32, byteOf(w1, 3) & 0x7F, 3);
      }
      out.add(0xC0 | channel, byteOf(w1, 0) & 0x7F, 0, 2);
      break;
    case 0x20:  // registered parameter
    case 0x30:  // assignable parameter
    {
      const bool registered = kind == 0x20;
      out.add(0xB0 | channel, registered ? 101 : 99, b2, 3);
      out.add(0xB0 | channel, registered ? 100 : 98, b3, 3);
      out.add(0xB0 | channel, 6, top7(w1), 3);
      out.add(0xB0 | channel, 38, std::uint8_t((w1 >> 18) & 0x7F), 3);
      break;
    }
    default: ++counters_.notCarried; break;
  }
}

std::span<const std::uint8_t> UmpReader::readSysEx(std::uint32_t w0, std::uint32_t w1) {
  const std::uint8_t form = byteOf(w0, 1) >> 4;
  const std::size_t count = byteOf(w0, 1) & 0x0F;
  if (count > 6 || form > 3) {
    ++counters_.brokenSysEx;
    sysexOpen_ = false;
    return {};
  }
  const bool starts = form == 0 || form == 1;
  const bool ends = form == 0 || form == 3;
  if (starts) {
    if (sysexOpen_) ++counters_.brokenSysEx;  // the open one never ended
    sysexOpen_ = true;
    sysexTooLong_ = false;
    sysexHave_ = 0;
    sysex_[sysexHave_++] = 0xF0;
  } else if (!sysexOpen_) {
    ++counters_.brokenSysEx;  // a piece of one whose start we never saw
    return {};
  }
  const std::uint8_t bytes[6] = {byteOf(w0, 2), byteOf(w0, 3), byteOf(w1, 0),
                                 byteOf(w1, 1), byteOf(w1, 2), byteOf(w1, 3)};
  for (std::size_t i = 0; i < count && !sysexTooLong_; ++i) {
    // Room is kept for the F7.
    if (sysexHave_ + 1 >= sysex_.size()) sysexTooLong_ = true;
    else sysex_[sysexHave_++] = bytes[i] & 0x7F;
  }
  if (!ends) return {};
  sysexOpen_ = false;
  if (sysexTooLong_) {
    ++counters_.brokenSysEx;
    return {};
  }
  sysex_[sysexHave_++] = 0xF7;
  return {sysex_.data(), sysexHave_};
}

}  // namespace strandlink::protocol::midi2
