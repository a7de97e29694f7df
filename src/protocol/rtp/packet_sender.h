// The sending half of an RTP-MIDI link. The MIDI thread (and the loop's thread,
// for Panic) hands each message over through a lock-free queue; a thread of the
// sender's own turns what waits into packets, with delta times, and sends them to
// the peer's data port. So neither packet building nor the loop's thread (the
// window paints) ever holds up a MIDI callback. That thread also keeps the
// recovery journal: every packet carries one (save those a peer not yet known to
// read journals would misread, journal_sender.h), and when MIDI stops it sends
// guard packets (the journal alone) so that a lost last packet is repaired too.
#pragma once

#include <netinet/in.h>

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

class PacketSender {
 public:
  PacketSender();
  ~PacketSender();
  PacketSender(const PacketSender&) = delete;
  PacketSender& operator=(const PacketSender&) = delete;

  // The loop's thread. Sends from dataSocket (which outlives stop()) with this SSRC,
  // with a fresh journal unless `journal` is false; false (and the socket error)
  // when the wake-up or the thread cannot be made.
  bool start(int dataSocket, std::uint32_t ssrc, std::uint16_t firstSequence, bool journal, net::SocketError& error);
  // Joins the thread; what still waits is dropped.
  void stop();
  // Where packets go: the peer's data port while a session is up, else nowhere
  // (messages are then taken and dropped, as a link without a peer does).
  void setPeer(const std::optional<sockaddr_in>& dataPort);

  // The loop's thread: the peer's receiver feedback, taken up by the sending thread
  // at its next packet.
  void receiverHas(std::uint16_t sequence) { feedback_.store(kFeedbackPending | sequence, std::memory_order_release); }
  // The loop's thread: the peer's data carries journals, so it reads them too; and
  // a new session, whose peer is not yet known to.
  void peerSendsJournals() { peerState_.fetch_or(1, std::memory_order_release); }
  void newPeer() {
    peerState_.store((peerState_.load(std::memory_order_relaxed) & ~1u) + 2, std::memory_order_release);
  }

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

  void run();
  void waitForWork();
  void drain(std::vector<Pending>& batch);
  void sendBatch(std::vector<Pending>& batch);
  void takeFeedback();
  void sendGuardIfDue();
  void sendPacket(const std::vector<std::uint8_t>& packet);
  void fail(net::SocketError error);

  midi::WordQueue<4096, Item> queue_;
  midi::ChunkStore store_;
  int wake_ = -1;  // an eventfd
  int socket_ = -1;
  // The sending thread's (and stop()'s, once it is joined).
  std::optional<PacketEncoder> encoder_;
  std::optional<JournalSender> journal_;  // none: packets leave without one
  GuardSchedule guardSchedule_;
  std::uint32_t ssrc_ = 0;
  std::vector<TimedEvent> timed_;
  std::vector<std::uint8_t> longBytes_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  // Set by the sending thread before it sleeps: a producer that finds it set wakes it.
  std::atomic<bool> sleeping_{false};
  std::atomic<bool> peerKnown_{false};
  net::AtomicAddress peer_;
  std::atomic<net::SocketError> lastError_{net::SocketError::Ok};
  std::atomic<std::uint64_t> packets_{0};
  std::atomic<std::uint64_t> failed_{0};
  std::atomic<std::uint64_t> journalBytes_{0};
  std::atomic<std::uint32_t> feedback_{0};   // kFeedbackPending | sequence, until taken
  std::atomic<std::uint32_t> peerState_{0};  // sessions begun << 1 | the peer sends journals
  std::uint32_t peerSessions_ = 0;           // the sending thread's: as last seen in peerState_
};

}  // namespace strandlink::protocol::rtp
