#include "protocol/rtp/packet_sender.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/monotonic_clock.h"
#include "base/quiet_threads.h"
#include "net/socket_errors.h"
#include "net/udp_socket.h"

namespace strandlink::protocol::rtp {

namespace {

std::int64_t monotonicMillis() { return monotonicMicros() / 1000; }

}  // namespace

PacketSender::PacketSender() = default;

PacketSender::~PacketSender() { stop(); }

bool PacketSender::start(int dataSocket, std::uint32_t ssrc, std::uint16_t firstSequence, bool journal,
                         net::SocketError& error) {
  stop();
  wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_ < 0) {
    error = net::socketErrorFromErrno(errno);
    return false;
  }
  socket_ = dataSocket;
  ssrc_ = ssrc;
  journal_ = journal;
  for (Lane& lane : lanes_) {
    lane.encoder.emplace(ssrc, firstSequence);
    // A new session numbers afresh: the history of the last one means nothing to a peer.
    lane.journal.reset();
    if (journal) lane.journal.emplace();
    lane.guardSchedule = GuardSchedule{};
    lane.feedback.store(0);
    lane.peerState.store(0);
    lane.generation.store(0);
    lane.peerSessions = 0;
    lane.servedFor = 0;
  }
  stopping_.store(false);
  sleeping_.store(false);
  try {
    const QuietThreads quiet;
    thread_ = std::thread([this] { run(); });
    // Named so that top -H and the benchmark can tell it from the others.
    ::pthread_setname_np(thread_.native_handle(), "rtp sender");
  } catch (const std::system_error&) {
    error = net::SocketError::InvalidArgument;
    ::close(wake_);
    wake_ = -1;
    return false;
  }
  return true;
}

void PacketSender::stop() {
  if (thread_.joinable()) {
    stopping_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wake_, &one, sizeof one);
    thread_.join();
  }
  if (wake_ >= 0) ::close(wake_);
  wake_ = -1;
  for (Lane& lane : lanes_) lane.known.store(false);
  // Whatever never left gives its chunks back, so a new start begins with all of them.
  std::vector<Pending> dropped;
  drain(dropped);
}

void PacketSender::setPeer(std::size_t lane, const std::optional<sockaddr_in>& dataPort) {
  if (dataPort) lanes_[lane].peer.store(*dataPort);
  lanes_[lane].known.store(dataPort.has_value(), std::memory_order_release);
}

SendResult PacketSender::queue(midi::MidiEventView event, std::int64_t playedMicros) noexcept {
  if (event.empty()) return SendResult::Sent;
  Item item;
  item.played = playedMicros;
  item.size = static_cast<std::uint32_t>(event.size());
  if (event.size() <= sizeof item.bytes) {
    std::copy(event.bytes().begin(), event.bytes().end(), item.bytes);
  } else if (!store_.store(event.bytes(), item.chunk)) {
    fail(net::SocketError::WouldBlock);
    return SendResult::Failed;
  }
  if (!queue_.push(item)) {
    if (item.size > sizeof item.bytes) store_.release(item.chunk, item.size);
    fail(net::SocketError::WouldBlock);
    return SendResult::Failed;
  }
  // push() is sequentially consistent with the sleeper's ready(): either it sees
  // this message, or this sees it asleep.
  if (sleeping_.exchange(false)) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wake_, &one, sizeof one);
  }
  return SendResult::Sent;
}

void PacketSender::fail(net::SocketError error) {
  lastError_.store(error, std::memory_order_relaxed);
  failed_.fetch_add(1, std::memory_order_relaxed);
}

// The sending thread.
void PacketSender::run() {
  std::vector<Pending> batch;
  batch.reserve(256);
  while (!stopping_.load()) {
    waitForWork();
    if (stopping_.load()) break;
    for (Lane& lane : lanes_) {
      takeFeedback(lane);
      sendGuardIfDue(lane);
    }
    // What waits now was queued together (one JACK cycle, or more while we sent):
    // it goes out in as few packets as hold it, to each participant.
    batch.clear();
    drain(batch);
    if (!batch.empty()) {
      const std::uint32_t first = timeBatch(batch);
      for (Lane& lane : lanes_)
        if (lane.known.load(std::memory_order_acquire)) sendBatch(lane, first);
    }
    // The next packet's journal, made while this thread waits rather than when MIDI comes.
    for (Lane& lane : lanes_)
      if (lane.journal && lane.known.load(std::memory_order_relaxed))
        (void)lane.journal->reserve(lane.encoder->nextSequence(), monotonicMillis());
  }
}

void PacketSender::waitForWork() {
  sleeping_.store(true);
  if (queue_.ready()) {
    sleeping_.store(false);
    return;
  }
  // Asleep until MIDI comes, or the next guard packet is due.
  int timeout = -1;
  if (const auto due = nextGuard()) timeout = int(std::clamp<std::int64_t>(*due - monotonicMillis(), 0, 1000));
  pollfd p{wake_, POLLIN, 0};
  while (::poll(&p, 1, timeout) < 0 && errno == EINTR) {
  }
  std::uint64_t count = 0;
  [[maybe_unused]] const auto n = ::read(wake_, &count, sizeof count);
  sleeping_.store(false);
}

std::optional<std::int64_t> PacketSender::nextGuard() const {
  std::optional<std::int64_t> next;
  for (const Lane& lane : lanes_)
    if (const auto due = lane.guardSchedule.nextDue(); due && (!next || *due < *next)) next = due;
  return next;
}

void PacketSender::drain(std::vector<Pending>& batch) {
  Item item;
  while (queue_.pop(item)) {
    Pending p{item.played, {}};
    if (item.size <= sizeof item.bytes) {
      p.event = midi::MidiEvent::fromBytes({item.bytes, item.size});
    } else {
      longBytes_.resize(item.size);
      store_.read(item.chunk, 0, longBytes_);
      store_.release(item.chunk, item.size);
      p.event = midi::MidiEvent::fromBytes(longBytes_);
    }
    batch.push_back(std::move(p));
  }
}

// The packets carry the time each message was played, on the clock the clock sync
// reads (100 µs ticks of the monotonic clock), so the peer can place them.
// Each message's own tick, less the first one's: a delta time rounded on its own
// would add a second tick of error to the first's.
std::uint32_t PacketSender::timeBatch(std::vector<Pending>& batch) {
  const std::uint64_t first = toSyncTicks(batch.front().played);
  timed_.clear();
  for (Pending& p : batch) {
    const std::uint64_t tick = std::max(first, toSyncTicks(p.played));
    timed_.push_back({static_cast<std::uint32_t>(tick - first), std::move(p.event)});
  }
  return static_cast<std::uint32_t>(first);
}

void PacketSender::sendBatch(Lane& lane, std::uint32_t first) {
  const std::int64_t now = monotonicMillis();
  // Each packet leaves room for its journal, so that it stays within the payload
  // bound; a journal larger than that alone goes with a packet that is larger (UDP
  // fragments it) rather than not at all.
  std::optional<JournalSender>& journal = lane.journal;
  const PacketEncoder::Reserve reserve = [&](std::uint16_t sequence) { return journal->reserve(sequence, now); };
  bool sent = false;
  lane.encoder->encode(first, timed_, journal ? reserve : PacketEncoder::Reserve{},
                       [&](std::vector<std::uint8_t>& packet) {
                         const std::size_t bare = packet.size();
                         // One that cannot carry its journal still goes: the next one's covers it.
                         if (journal && journal->attach(packet, now))
                           journalBytes_.fetch_add(packet.size() - bare, std::memory_order_relaxed);
                         sendPacket(lane, packet);
                         sent = true;
                       });
  if (journal && sent) lane.guardSchedule.midiSent(now);
}

void PacketSender::takeFeedback(Lane& lane) {
  if (!journal_) return;
  if (const std::uint32_t served = lane.generation.load(std::memory_order_acquire); served != lane.servedFor) {
    lane.servedFor = served;
    lane.journal.emplace();
    lane.guardSchedule = GuardSchedule{};
  }
  const std::uint32_t peer = lane.peerState.load(std::memory_order_acquire);
  if (peer >> 1 != lane.peerSessions) lane.peerSessions = peer >> 1, lane.journal->newPeer();
  if (peer & 1) lane.journal->peerSendsJournals();
  const std::uint32_t feedback = lane.feedback.exchange(0, std::memory_order_acquire);
  if (feedback & kFeedbackPending) lane.journal->receiverHas(static_cast<std::uint16_t>(feedback));
}

void PacketSender::sendGuardIfDue(Lane& lane) {
  const auto due = lane.guardSchedule.nextDue();
  if (!lane.journal || !due) return;
  const std::int64_t now = monotonicMillis();
  if (*due > now) return;
  const RtpHeader header{false, kPayloadType, lane.encoder->nextSequence(),
                         static_cast<std::uint32_t>(toSyncTicks(monotonicMicros())), ssrc_};
  lane.guardSchedule.guardSent(now);
  const std::vector<std::uint8_t> guard = lane.journal->guardPacket(header, now);
  if (guard.empty()) return;  // its journal is left out: nothing to send
  (void)lane.encoder->takeSequence();
  sendPacket(lane, guard);
}

void PacketSender::sendPacket(const Lane& lane, const std::vector<std::uint8_t>& packet) {
  if (!lane.known.load(std::memory_order_acquire)) return;
  const net::Transfer sent = net::sendDatagram(socket_, packet, lane.peer.load());
  if (sent.ok()) packets_.fetch_add(1, std::memory_order_relaxed);
  else if (!net::isUnreachableEcho(sent.error))  // the peer's program is gone: the session tells
    fail(sent.error);
}

}  // namespace strandlink::protocol::rtp
