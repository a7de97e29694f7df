// One short MIDI message (a status byte and up to two data bytes): the one form a
// message has from the input that captured it to the output that plays it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace strandlink::midi {

// How many bytes a message with this status byte has (1 to 3), or 0 when the byte
// starts no short message (a data byte, SysEx 0xF0/0xF7, the undefined 0xF4/0xF5).
int shortMessageLength(std::uint8_t status);

struct ShortMessage {
  std::array<std::uint8_t, 3> bytes{};  // bytes past size are 0
  std::uint8_t size = 0;

  // The first three bytes (fewer when there are fewer), as a backend or a datagram
  // gave them; nothing is checked.
  static ShortMessage fromBytes(std::span<const std::uint8_t> data);
  // Status and data bytes with the size the status byte calls for; the data bytes
  // it does not call for are dropped.
  static ShortMessage withStatusSize(std::uint8_t status, std::uint8_t data1 = 0, std::uint8_t data2 = 0);

  std::uint8_t status() const { return bytes[0]; }
  // Whether an output can play it: a status byte that starts a short message, and
  // every data byte that status calls for present and below 128.
  bool playable() const;
  // The bytes an output sends: as many as the status byte calls for.
  std::span<const std::uint8_t> wireBytes() const {
    return {bytes.data(), static_cast<std::size_t>(shortMessageLength(bytes[0]))};
  }

  friend bool operator==(const ShortMessage&, const ShortMessage&) = default;
};

}  // namespace strandlink::midi
