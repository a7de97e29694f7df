// Runs one datagram through every RTP-MIDI decoder, as a receiver would, and checks
// what holds for any input: no crash, no read past the datagram (under
// AddressSanitizer), and every command that comes out carries its status byte.
// Shared by the seeded fuzz test in the suite and the libFuzzer target.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <span>

#include "protocol/rtp/midi_packet.h"
#include "protocol/rtp/session_packet.h"
#include "protocol/rtp/sysex_assembler.h"

namespace strandlink::protocol::rtp::fuzz {

inline void check(bool holds) {
  if (!holds) std::abort();
}

inline void decodeAll(std::span<const std::uint8_t> datagram, SysExAssembler& assembler) {
  SessionPacket session;
  if (decodeSessionPacket(datagram, session) == DecodeError::None)
    check(encodeSessionPacket(session).size() <= datagram.size() + 1);  // at most a NUL added
  MidiPacket packet;
  if (decodeMidiPacket(datagram, packet) != DecodeError::None) return;
  for (const TimedCommand& command : packet.commands) {
    check(!command.bytes.empty() && command.bytes.status() >= 0x80);
    if (auto whole = assembler.push(command.bytes)) check(whole->wellFormed());
  }
}

}  // namespace strandlink::protocol::rtp::fuzz
