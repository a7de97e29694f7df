#include "protocol/classic/classic_codec.h"

#include <algorithm>

namespace strandlink::protocol::classic {

MidiDatagram encodeMidi(const midi::ShortMessage& message, std::optional<std::int64_t> playedMicros) {
  MidiDatagram d;
  std::copy(message.bytes.begin(), message.bytes.end(), d.bytes.begin());
  if (!playedMicros) return d;
  const auto stamp = std::uint32_t(std::uint64_t(*playedMicros));
  for (std::size_t i = 0; i < 4; ++i) d.bytes[kPlainDatagramSize + i] = std::uint8_t(stamp >> (8 * i));
  d.size = kStampedDatagramSize;
  return d;
}

ReceivedMidi decodeMidi(std::span<const std::uint8_t> datagram) {
  std::array<std::uint8_t, kPlainDatagramSize> first{};
  std::copy_n(datagram.begin(), std::min(datagram.size(), first.size()), first.begin());
  return {midi::ShortMessage::fromBytes(first), datagramStamp(datagram)};
}

std::optional<std::uint32_t> datagramStamp(std::span<const std::uint8_t> d) {
  if (d.size() != kStampedDatagramSize) return std::nullopt;
  return std::uint32_t(d[3]) | std::uint32_t(d[4]) << 8 | std::uint32_t(d[5]) << 16 | std::uint32_t(d[6]) << 24;
}

ChatDatagram decodeChat(std::span<const std::uint8_t> datagram) {
  if (datagram.empty()) return {};
  if (datagram.size() == 1) return {ChatDatagram::Kind::Control, datagram[0], {}};
  return {ChatDatagram::Kind::Line, 0, datagram};
}

}  // namespace strandlink::protocol::classic
