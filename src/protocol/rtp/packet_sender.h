// The sending half of an RTP-MIDI link. The MIDI thread (and the loop's thread,
// for Panic) hands each message over through a lock-free queue; a thread of the
// sender's own turns what waits into packets, with delta times, and sends them to
// each participant's data port. So neither packet building, nor the fan-out to
// many participants, nor the loop's thread (the window paints) ever holds up a
// MIDI callback. Each participant has a lane of its own: its sequence numbers, its
// recovery journal and checkpoint (one participant's slow feedback grows no other
// journal), and its guard packets (the journal alone, when MIDI stops, so that a
// lost last packet is repaired too). Every packet carries a journal, save those a
// peer not yet known to read journals would misread (journal_sender.h).
#pragma once

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <thread>
#include <vector>

#include "midi/chunk_store.h"
#include "midi/midi_event.h"
#include "midi/word_queue.h"
#include "net/atomic_address.h"
#include "protocol/peer_protocol.h"
#include "protocol/rtp/clock_sync.h"
#include "protocol/rtp/journal_sender.h"
#include "protocol/rtp/packet_encoder.h"

namespace strandlink::protocol::rtp {

// Participants of one session at most, and so lanes of the sender.
inline constexpr std::size_t kMaxParticipants = 16;

class PacketSender {
 public:
  PacketSender();
  ~PacketSender();
  PacketSender(const PacketSender&) = delete;
  PacketSender& operator=(const PacketSender&) = delete;

  // The loop's thread. Sends from dataSocket (which outlives stop()) with this SSRC,
  // each lane's sequence numbers from firstSequence, with fresh journals unless
  // `journal` is false; false (and the socket error) when the wake-up or the thread
  // cannot be made.
  bool start(int dataSocket, std::uint32_t ssrc, std::uint16_t firstSequence, bool journal, net::SocketError& error);
  // Joins the thread; what still waits is dropped.
  void stop();
  // The loop's thread, for one lane (below kMaxParticipants). Where its packets
  // go: the participant's data port while its session is up, else nowhere.
  void setPeer(std::size_t lane, const std::optional<sockaddr_in>& dataPort);
  // The participant's receiver feedback, taken up by the sending thread at the
  // lane's next packet.
  void receiverHas(std::size_t lane, std::uint16_t sequence) {
    lanes_[lane].feedback.store(kFeedbackPending | sequence, std::memory_order_release);
  }
  // The participant's data carries journals, so it reads them too.
  void peerSendsJournals(std::size_t lane) { lanes_[lane].peerState.fetch_or(1, std::memory_order_release); }
  // A new session in the lane (the same participant's again, or another's): its
  // peer is not yet known to read journals.
  void newPeer(std::size_t lane) {
    auto& state = lanes_[lane].peerState;
    state.store((state.load(std::memory_order_relaxed) & ~1u) + 2, std::memory_order_release);
  }
  // The lane passes to another participant: a history it never heard of would only
  // mislead it, so the lane's journal begins afresh.
  void freshLane(std::size_t lane) { lanes_[lane].generation.fetch_add(1, std::memory_order_release); }

  // Any thread: never waits, locks or allocates. Failed only when the queue or the
  // long-message store is full.
  SendResult queue(midi::MidiEventView event, std::int64_t playedMicros) noexcept;
  // The socket error of the last failure (full queue, or a send the kernel refused).
  net::SocketError lastError() const { return lastError_.load(std::memory_order_relaxed); }
  std::uint64_t packetsSent() const { return packets_.load(std::memory_order_relaxed); }
  std::uint64_t failedSends() const { return failed_.load(std::memory_order_relaxed); }
  std::uint64_t journalBytes() const { return journalBytes_.load(std::memory_order_relaxed); }

 private:
  // One message in the queue: short ones inline, longer ones in the store.
  struct Item {
    std::int64_t played = 0;
    std::uint32_t size = 0;
    midi::ChunkStore::Index chunk = 0;
    std::uint8_t bytes[3]{};
  };

  struct Pending {
    std::int64_t played = 0;
    midi::MidiEvent event;
  };

  static constexpr std::uint32_t kFeedbackPending = 0x10000;

  // One participant's. The atomics are set on the loop's thread; the rest is the
  // sending thread's (and stop()'s, once it is joined).
  struct Lane {
    std::atomic<bool> known{false};
    net::AtomicAddress peer;
    std::atomic<std::uint32_t> feedback{0};    // kFeedbackPending | sequence, until taken
    std::atomic<std::uint32_t> peerState{0};   // sessions begun << 1 | the peer sends journals
    std::atomic<std::uint32_t> generation{0};  // participants the lane has served
    std::optional<PacketEncoder> encoder;
    std::optional<JournalSender> journal;  // none: packets leave without one
    GuardSchedule guardSchedule;
    std::uint32_t peerSessions = 0;  // as last seen in peerState
    std::uint32_t servedFor = 0;     // as last seen in generation
  };

  void run();
  void waitForWork();
  void drain(std::vector<Pending>& batch);
  std::uint32_t timeBatch(std::vector<Pending>& batch);
  void sendBatch(Lane& lane, std::uint32_t first);
  void takeFeedback(Lane& lane);
  void sendGuardIfDue(Lane& lane);
  std::optional<std::int64_t> nextGuard() const;
  void sendPacket(const Lane& lane, const std::vector<std::uint8_t>& packet);
  void fail(net::SocketError error);

  midi::WordQueue<4096, Item> queue_;
  midi::ChunkStore store_;
  int wake_ = -1;  // an eventfd
  int socket_ = -1;
  std::array<Lane, kMaxParticipants> lanes_;
  bool journal_ = true;  // the sending thread's, set before it starts
  std::uint32_t ssrc_ = 0;
  std::vector<TimedEvent> timed_;
  std::vector<std::uint8_t> longBytes_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  // Set by the sending thread before it sleeps: a producer that finds it set wakes it.
  std::atomic<bool> sleeping_{false};
  std::atomic<net::SocketError> lastError_{net::SocketError::Ok};
  std::atomic<std::uint64_t> packets_{0};
  std::atomic<std::uint64_t> failed_{0};
  std::atomic<std::uint64_t> journalBytes_{0};
};

}  // namespace strandlink::protocol::rtp
