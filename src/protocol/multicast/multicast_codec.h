// The multicast wire: raw MIDI bytes in UDP datagrams, as the multicast MIDI
// gateways send them. No header, no stamp, no padding: a short message is its 1,
// 2 or 3 bytes, a SysEx its bytes from F0 to F7. A SysEx too long for one datagram
// goes out in consecutive datagrams of at most kMaxPayload bytes, which a receiver
// reads back as one byte stream (see group_receiver.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "midi/midi_event.h"

namespace strandlink::protocol::multicast {

// The group and first port the gateways use; port + n is MIDI port n + 1.
inline constexpr std::uint32_t kDefaultGroupHostOrder = 0xE1000025;  // 225.0.0.37
inline constexpr std::uint16_t kDefaultPort = 21928;
// The most MIDI bytes one datagram carries: small enough for any LAN's frames.
inline constexpr std::size_t kMaxPayload = 1024;

// How many datagrams carry a message of this many bytes.
constexpr std::size_t datagramCount(std::size_t messageSize) { return (messageSize + kMaxPayload - 1) / kMaxPayload; }

// Calls send(std::span<const std::uint8_t>) with the payload of each datagram that
// carries the event, in order: views into the event's own bytes, so nothing is
// allocated or copied (safe on a real-time thread). An event that is not a whole
// message is not sent (false).
template <class Send>
bool forEachDatagram(midi::MidiEventView event, Send&& send) {
  if (!event.wellFormed()) return false;
  auto rest = event.bytes();
  while (!rest.empty()) {
    const std::size_t size = rest.size() < kMaxPayload ? rest.size() : kMaxPayload;
    send(rest.first(size));
    rest = rest.subspan(size);
  }
  return true;
}

}  // namespace strandlink::protocol::multicast
