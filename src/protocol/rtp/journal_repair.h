// The receiving side of the recovery journal: finds gaps by sequence number and,
// from the journal of the first packet after one, the MIDI messages that put this
// side where the sender is. It keeps what this side has played, so that only what
// differs is played and nothing twice. Pure state: the transport calls it, on its
// own thread, for every packet that arrives and every command it plays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "midi/midi_event.h"
#include "protocol/rtp/channel_state.h"
#include "protocol/rtp/journal_chapters.h"

namespace strandlink::protocol::rtp {

struct RepairCounts {
  std::uint64_t gaps = 0;            // runs of missing packets
  std::uint64_t packetsLost = 0;     // packets in those runs
  std::uint64_t notesEnded = 0;      // note-offs played from a journal
  std::uint64_t lateNotes = 0;       // lost note-ons played late (still held and recent)
  std::uint64_t valuesRestored = 0;  // controllers, programs, wheels, pressures, parameters, system state
  std::uint64_t unrepaired = 0;      // gaps with no journal, or one that did not reach back far enough
  std::uint64_t unbelieved = 0;      // changes past what the packets a journal stands in for could hold
};

class JournalRepair {
 public:
  // What one lost packet can change at most: a datagram of an Ethernet MTU holds
  // 1458 octets of MIDI list, and a command that sets a note, controller or
  // pressure of its own takes three of them at least (a delta time and two data
  // octets under running status). A journal that claims more for the packets it
  // stands in for is not believed past that; note-offs of notes this side holds
  // are always played, as they only end what the peer started.
  static constexpr std::size_t kChangesPerLostPacket = 486;

  struct Outcome {
    std::vector<midi::MidiEvent> repairs;  // to play before the packet's commands
    bool playCommands = true;              // false for a packet the repair already covered
  };

  // A packet arrived, with its journal when it had one. Call before playing its
  // commands, and call played() for each of them that is played.
  Outcome arrived(std::uint16_t sequence, const RecoveryJournal* journal);
  // A command of a packet was played (the repairs are recorded by arrived()).
  void played(midi::MidiEventView event) { state_.apply(event); }
  // A new sender (the peer restarted): numbering and the system counts start
  // afresh; what was played stays.
  void restart();

  const RepairCounts& counts() const { return counts_; }
  const MidiState& state() const { return state_; }

 private:
  void repair(const RecoveryJournal& journal, std::vector<midi::MidiEvent>& out);
  void repairSystem(const SystemJournal& journal, std::vector<midi::MidiEvent>& out);
  void repairSequencer(const SequencerState& journal, std::vector<midi::MidiEvent>& out);
  void repairSysEx(const SystemJournal& journal, std::vector<midi::MidiEvent>& out);
  void takeCounts(const SystemJournal& journal);
  void repairChannel(const ChannelJournal& journal, std::vector<midi::MidiEvent>& out);
  void repairParameters(const ChannelJournal& journal, std::vector<midi::MidiEvent>& out);
  void repairNotes(const ChannelJournal& journal, std::vector<midi::MidiEvent>& out);
  void add(std::vector<midi::MidiEvent>& out, std::uint8_t status, std::uint8_t a = 0, std::uint8_t b = 0);
  void addSysEx(std::vector<midi::MidiEvent>& out, std::span<const std::uint8_t> data);
  bool change();  // one change more from the journal, false past the budget

  MidiState state_;
  std::optional<std::uint16_t> highest_;
  bool peerSendsJournals_ = false;
  RepairCounts counts_;
  std::size_t budget_ = 0;  // changes the packets the journal stands in for could hold
};

}  // namespace strandlink::protocol::rtp
