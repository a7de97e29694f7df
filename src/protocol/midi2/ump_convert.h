// MIDI 1.0 messages to Universal MIDI Packets on group 0 and back. Our ports are
// MIDI 1.0 byte streams: channel voice goes out as MIDI 1.0 channel voice packets,
// system common and real-time as system packets, SysEx as 7-bit data packets
// (complete, or start, continue..., end). What a peer sends as MIDI 2.0 channel
// voice is scaled down to MIDI 1.0; what it sends on other groups is counted and
// dropped, as is anything with no MIDI 1.0 form.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "midi/midi_event.h"

namespace strandlink::protocol::midi2 {

// Words of a packet by its message type (the top four bits of its first word).
constexpr std::size_t umpWords(std::uint32_t firstWord) {
  constexpr std::uint8_t kWords[16] = {1, 1, 1, 2, 2, 4, 1, 1, 2, 2, 2, 3, 3, 4, 4, 4};
  return kWords[firstWord >> 28];
}

// One packet of at most two words: all that a MIDI 1.0 message turns into.
struct Ump {
  std::array<std::uint32_t, 2> words{};
  std::uint8_t size = 0;
  std::span<const std::uint32_t> view() const { return {words.data(), size}; }
};

// Calls out(const Ump&) for each packet of the message; false (nothing emitted)
// for one that is not well formed. Neither allocates nor locks.
template <class Emit>
bool toUmp(midi::MidiEventView event, Emit&& out);

// What a peer's packets held that is not ours to play.
struct UmpCounters {
  std::uint64_t messages = 0;     // MIDI 1.0 messages handed on
  std::uint64_t otherGroups = 0;  // packets on a group other than 0
  std::uint64_t notCarried = 0;   // packets with no MIDI 1.0 form
  std::uint64_t brokenSysEx = 0;  // SysEx pieces out of order, or a SysEx too long
  std::uint64_t cutPackets = 0;   // a command whose last packet lacked words
};

// A peer's packets, turned back into MIDI 1.0: one reader per peer, since a
// SysEx spans packets (and commands).
class UmpReader {
 public:
  explicit UmpReader(std::size_t maxSysEx = midi::kMaxMessageBytes);

  // Every whole packet in words: MIDI 1.0 messages to play(std::span<const
  // std::uint8_t>), stream packets (message type F) to stream(std::span<const
  // std::uint32_t, 4>). A packet cut off at the end is counted and dropped.
  template <class Play, class Stream>
  void read(std::span<const std::uint32_t> words, Play&& play, Stream&& stream);

  // Forgets a SysEx in progress (the peer's session began anew).
  void reset() { sysexOpen_ = false; }
  // Some of the peer's commands were lost: a SysEx in progress lacks a piece.
  void cut() {
    if (sysexOpen_) ++counters_.brokenSysEx;
    reset();
  }
  const UmpCounters& counters() const { return counters_; }

 private:
  // Up to four short messages a MIDI 2.0 packet becomes (a parameter number: four
  // controllers).
  struct Short {
    std::array<std::array<std::uint8_t, 3>, 4> messages{};
    std::array<std::uint8_t, 4> sizes{};
    std::uint8_t count = 0;
    void add(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t size) {
      messages[count] = {a, b, c};
      sizes[count++] = size;
    }
  };
  void readSystem(std::uint32_t w, Short& out);
  void readMidi1(std::uint32_t w, Short& out);
  void readMidi2(std::uint32_t w0, std::uint32_t w1, Short& out);
  // A finished SysEx, F0 to F7, or nothing.
  std::span<const std::uint8_t> readSysEx(std::uint32_t w0, std::uint32_t w1);

  std::vector<std::uint8_t> sysex_;  // sized once
  std::size_t sysexHave_ = 0;
  bool sysexOpen_ = false;
  bool sysexTooLong_ = false;
  UmpCounters counters_;
};

// --- templates ---------------------------------------------------------------

namespace detail {
constexpr std::uint32_t pack(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  return std::uint32_t(a) << 24 | std::uint32_t(b) << 16 | std::uint32_t(c) << 8 | d;
}
}  // namespace detail

template <class Emit>
bool toUmp(midi::MidiEventView event, Emit&& out) {
  if (!event.wellFormed()) return false;
  const auto bytes = event.bytes();
  const std::uint8_t status = bytes[0];
  if (status != 0xF0) {
    const std::uint8_t d1 = bytes.size() > 1 ? bytes[1] : 0;
    const std::uint8_t d2 = bytes.size() > 2 ? bytes[2] : 0;
    Ump u;
    u.size = 1;
    u.words[0] = detail::pack(status >= 0xF0 ? 0x10 : 0x20, status, d1, d2);
    out(u);
    return true;
  }
  const auto data = bytes.subspan(1, bytes.size() - 2);
  const std::size_t pieces = data.empty() ? 1 : (data.size() + 5) / 6;
  for (std::size_t k = 0; k < pieces; ++k) {
    const auto piece = data.subspan(k * 6, std::min<std::size_t>(6, data.size() - k * 6));
    const std::uint8_t form = pieces == 1 ? 0 : k == 0 ? 1 : k + 1 == pieces ? 3 : 2;
    std::array<std::uint8_t, 6> b{};
    std::copy(piece.begin(), piece.end(), b.begin());
    Ump u;
    u.size = 2;
    u.words[0] = detail::pack(0x30, std::uint8_t(form << 4 | piece.size()), b[0], b[1]);
    u.words[1] = detail::pack(b[2], b[3], b[4], b[5]);
    out(u);
  }
  return true;
}

template <class Play, class Stream>
void UmpReader::read(std::span<const std::uint32_t> words, Play&& play, Stream&& stream) {
  for (std::size_t at = 0; at < words.size();) {
    const std::uint32_t w0 = words[at];
    const std::size_t n = umpWords(w0);
    if (n > words.size() - at) {
      ++counters_.cutPackets;
      return;
    }
    const auto ump = words.subspan(at, n);
    at += n;
    const std::uint8_t type = std::uint8_t(w0 >> 28);
    if (type == 0xF) {
      stream(std::span<const std::uint32_t, 4>(ump.data(), 4));
      continue;
    }
    if (type == 0x0) continue;  // utility: no MIDI in it
    if (((w0 >> 24) & 0xF) != 0 && type >= 0x1 && type <= 0x5) {
      ++counters_.otherGroups;
      continue;
    }
    Short out;
    switch (type) {
      case 0x1: readSystem(w0, out); break;
      case 0x2: readMidi1(w0, out); break;
      case 0x4: readMidi2(w0, ump[1], out); break;
      case 0x3:
        if (const auto whole = readSysEx(w0, ump[1]); !whole.empty()) {
          ++counters_.messages;
          play(whole);
        }
        continue;
      default: ++counters_.notCarried; continue;
    }
    for (std::uint8_t i = 0; i < out.count; ++i) {
      ++counters_.messages;
      play(std::span<const std::uint8_t>(out.messages[i].data(), out.sizes[i]));
    }
  }
}

}  // namespace strandlink::protocol::midi2
