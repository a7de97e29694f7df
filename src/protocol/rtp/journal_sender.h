// The sending side of the recovery journal: the history of what this side sent
// since the checkpoint, per channel, and the journal each new packet carries. The
// peer's receiver feedback moves the checkpoint forward, so the journal holds only
// what the peer may not have yet. A journal of several channels waits until the
// peer has shown that it reads journals (some misread them). Pure state: the
// transport calls it, on its own thread, for every packet it sends and every
// feedback it gets.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "protocol/rtp/channel_state.h"
#include "protocol/rtp/journal_chapters.h"
#include "protocol/rtp/midi_packet.h"

namespace strandlink::protocol::rtp {

class JournalSender {
 public:
  // A note-on younger than this when a journal is made is marked to sound late at a
  // receiver that lost it; an older one would come too late to belong to the music.
  //
  // Without feedback (a peer that sends none, or a network that loses it for long)
  // the checkpoint still moves, to the first packet of the last `historyMs`: a gap
  // older than that was repaired by the packets after it, if any came through.
  explicit JournalSender(std::int64_t recentNoteMs = 100, std::int64_t historyMs = 10000)
      : recentNoteMs_(recentNoteMs), historyMs_(historyMs) {}

  // The octets of the journal the packet with this number will carry, made now
  // (every packet before it attached) and kept for its attach(): what the packet
  // encoder must leave room for. Made ahead (while the sender waits for MIDI), it
  // serves for a short while unless feedback or a guard packet comes first.
  std::size_t reserve(std::uint16_t sequence, std::int64_t nowMs);
  // Adds the journal to one packet as the packet encoder made it (J = 0) and records
  // the packet's commands. False when the packet cannot be read or the journal does
  // not fit or waits: the packet then leaves as it was, without a journal.
  bool attach(std::vector<std::uint8_t>& packet, std::int64_t nowMs);
  // A packet with no commands and the journal only, sent when the sender falls
  // silent so that the loss of the last packet before the silence is repaired too;
  // none (empty) while the journal waits.
  std::vector<std::uint8_t> guardPacket(const RtpHeader& header, std::int64_t nowMs);
  // The peer's receiver feedback: it has everything up to this packet. Feedback
  // that names a packet past the checkpoint also shows that the peer reads
  // journals: a reader that only echoes our checkpoints never names one.
  void receiverHas(std::uint16_t sequence);
  // The peer's own data carries journals: it reads them too.
  void peerSendsJournals() { peerReads(true); }
  // Another peer, not yet known to read journals.
  void newPeer() { peerReads(false); }
  bool peerReadsJournals() const { return peerReadsJournals_; }

  // The journal for the packet with this sequence number: what changed from the
  // checkpoint up to the packet before it.
  RecoveryJournal journalFor(std::uint16_t sequence, std::int64_t nowMs) const;
  std::uint16_t checkpoint() const { return static_cast<std::uint16_t>(checkpoint_); }

 private:
  struct Prepared {
    bool valid = false;
    std::uint64_t sequence = 0;
    std::int64_t madeMs = 0;
    bool fits = false;
    std::vector<std::uint8_t> bytes;
  };

  const Prepared& prepare(std::uint64_t sequence, std::int64_t nowMs);
  bool sendable(const RecoveryJournal& journal) const;
  void peerReads(bool reads) {
    if (reads != peerReadsJournals_) prepared_.valid = false;  // made for the other case
    peerReadsJournals_ = reads;
  }
  std::uint64_t extend(std::uint16_t sequence) const;
  void sending(std::uint64_t sequence, std::int64_t nowMs);
  ChannelJournal channelJournal(int channel, std::uint64_t sequence, std::int64_t nowMs) const;
  std::vector<ParameterValue> parameterLogs(const ChannelState& c, std::uint64_t sequence) const;

  std::int64_t recentNoteMs_;
  std::int64_t historyMs_;
  MidiState state_;
  std::deque<std::pair<std::uint64_t, std::int64_t>> marks_;  // a packet and its time, about one a second
  std::uint64_t checkpoint_ = 0;                              // sequence numbers extended past 16 bits
  std::optional<std::uint64_t> last_;                         // the last packet sent
  bool peerReadsJournals_ = false;                            // as its data or feedback showed
  Prepared prepared_;                                         // for the next packet
};

// When to send guard packets after the last MIDI: 20 ms later, then at doubling
// intervals up to one of a second, then no more until MIDI is sent again.
class GuardSchedule {
 public:
  void midiSent(std::int64_t nowMs);
  void guardSent(std::int64_t nowMs);
  std::optional<std::int64_t> nextDue() const { return due_; }

 private:
  std::int64_t interval_ = 0;
  std::optional<std::int64_t> due_;
};

}  // namespace strandlink::protocol::rtp
