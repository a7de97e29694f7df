// The classic wire: pure functions from messages to datagrams and back.
//
// MIDI port P: one short message per datagram, its three bytes (the bytes a
// shorter message does not use are 0). In steady timing seven: the three bytes
// and the moment the message was played, the low 32 bits of the sender's
// monotonic clock in µs, little-endian. Receivers that play the first three bytes
// of any datagram are not disturbed by the rest.
//
// Chat port P + 1: one byte is a control byte of the connection check (probe
// 0x01, reply 0x02), two or more a chat line, one byte per character (ISO 8859-1).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "midi/short_message.h"

namespace strandlink::protocol::classic {

inline constexpr std::size_t kPlainDatagramSize = 3;
inline constexpr std::size_t kStampedDatagramSize = 7;

// A MIDI datagram to send: the first size bytes.
struct MidiDatagram {
  std::array<std::uint8_t, kStampedDatagramSize> bytes{};
  std::size_t size = kPlainDatagramSize;
  std::span<const std::uint8_t> wire() const { return std::span(bytes).first(size); }
};

// The three-byte datagram of a message, or with a moment the seven-byte one.
MidiDatagram encodeMidi(const midi::ShortMessage& message, std::optional<std::int64_t> playedMicros = std::nullopt);

// What a received MIDI datagram says: the first three bytes, with zeros for those
// it lacks (so always three), and the moment when it is exactly seven bytes long.
struct ReceivedMidi {
  midi::ShortMessage message;
  std::optional<std::uint32_t> stamp;
};
ReceivedMidi decodeMidi(std::span<const std::uint8_t> datagram);

// The stamp of a datagram of exactly seven bytes; any other length has none.
std::optional<std::uint32_t> datagramStamp(std::span<const std::uint8_t> datagram);

// A datagram on the chat port: a control byte, or a line (two bytes or more).
struct ChatDatagram {
  enum class Kind { Empty, Control, Line };
  Kind kind = Kind::Empty;
  std::uint8_t control = 0;
  std::span<const std::uint8_t> line;
};
ChatDatagram decodeChat(std::span<const std::uint8_t> datagram);

}  // namespace strandlink::protocol::classic
