// Runs one datagram through every RTP-MIDI decoder, as a receiver would, and checks
// what holds for any input: no crash, no read past the datagram (under
// AddressSanitizer), every command that comes out carries its status byte, and a
// journal, read and repaired from, yields only whole messages.
// Shared by the seeded fuzz test in the suite and the libFuzzer target.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "protocol/rtp/journal_codec.h"
#include "protocol/rtp/journal_repair.h"
#include "protocol/rtp/midi_packet.h"
#include "protocol/rtp/session_packet.h"
#include "protocol/rtp/sysex_assembler.h"

namespace strandlink::protocol::rtp::fuzz {

inline void check(bool holds) {
  if (!holds) std::abort();
}

// A receiver that played one note and lost a packet repairs from this journal.
inline void repairFrom(const RecoveryJournal& journal) {
  JournalRepair repair;
  (void)repair.arrived(static_cast<std::uint16_t>(journal.checkpoint - 2), nullptr);
  static constexpr std::array<std::uint8_t, 3> kNoteOn{0x90, 60, 1};
  repair.played(midi::MidiEventView(kNoteOn));
  for (const midi::MidiEvent& e : repair.arrived(static_cast<std::uint16_t>(journal.checkpoint + 1), &journal).repairs)
    check(e.wellFormed());
}

inline void decodeAll(std::span<const std::uint8_t> datagram, SysExAssembler& assembler) {
  SessionPacket session;
  if (decodeSessionPacket(datagram, session) == DecodeError::None)
    check(encodeSessionPacket(session).size() <= datagram.size() + 1);  // at most a NUL added
  // The whole datagram read as a journal too, so that every octet reaches its decoder.
  ByteReader asJournal(datagram);
  RecoveryJournal journal;
  if (decodeJournal(asJournal, journal) == DecodeError::None) repairFrom(journal);
  MidiPacket packet;
  if (decodeMidiPacket(datagram, packet) != DecodeError::None) return;
  if (packet.journal) repairFrom(*packet.journal);
  for (const TimedCommand& command : packet.commands) {
    check(!command.bytes.empty() && command.bytes.status() >= 0x80);
    if (auto whole = assembler.push(command.bytes)) check(whole->wellFormed());
  }
}

}  // namespace strandlink::protocol::rtp::fuzz
