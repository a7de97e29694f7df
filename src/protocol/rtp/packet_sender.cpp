#include "protocol/rtp/packet_sender.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/monotonic_clock.h"
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
  encoder_.emplace(ssrc, firstSequence);
  // A new session numbers afresh: the history of the last one means nothing to a peer.
  journal_.reset();
  if (journal) journal_.emplace();
  guardSchedule_ = GuardSchedule{};
  feedback_.store(0);
  peerState_.store(0);
  peerSessions_ = 0;
  stopping_.store(false);
  sleeping_.store(false);
  try {
    thread_ = std::thread([this] { run(); });
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
  peerKnown_.store(false);
  // Whatever never left gives its chunks back, so a new start begins with all of them.
  std::vector<Pending> dropped;
  drain(dropped);
}

void PacketSender::setPeer(const std::optional<sockaddr_in>& dataPort) {
  if (dataPort) peer_.store(*dataPort);
  peerKnown_.store(dataPort.has_value(), std::memory_order_release);
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
    takeFeedback();
    sendGuardIfDue();
    // What waits now was queued together (one JACK cycle, or more while we sent):
    // it goes out in as few packets as hold it.
    batch.clear();
    drain(batch);
    if (!batch.empty()) sendBatch(batch);
    // The next packet's journal, made while this thread waits rather than when MIDI comes.
    if (journal_) (void)journal_->reserve(encoder_->nextSequence(), monotonicMillis());
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
  if (const auto due = guardSchedule_.nextDue())
    timeout = int(std::clamp<std::int64_t>(*due - monotonicMillis(), 0, 1000));
  pollfd p{wake_, POLLIN, 0};
  while (::poll(&p, 1, timeout) < 0 && errno == EINTR) {
  }
  std::uint64_t count = 0;
  [[maybe_unused]] const auto n = ::read(wake_, &count, sizeof count);
  sleeping_.store(false);
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
void PacketSender::sendBatch(std::vector<Pending>& batch) {
  const std::uint64_t first = toSyncTicks(batch.front().played);
  timed_.clear();
  for (Pending& p : batch) {
    const std::uint64_t tick = std::max(first, toSyncTicks(p.played));
    timed_.push_back({static_cast<std::uint32_t>(tick - first), std::move(p.event)});
  }
  const std::int64_t now = monotonicMillis();
  // Each packet leaves room for its journal, so that it stays within the payload
  // bound; a journal larger than that alone goes with a packet that is larger (UDP
  // fragments it) rather than not at all.
  const PacketEncoder::Reserve reserve = [&](std::uint16_t sequence) { return journal_->reserve(sequence, now); };
  bool sent = false;
  encoder_->encode(static_cast<std::uint32_t>(first), timed_, journal_ ? reserve : PacketEncoder::Reserve{},
                   [&](std::vector<std::uint8_t>& packet) {
                     const std::size_t bare = packet.size();
                     // One that cannot carry its journal still goes: the next one's covers it.
                     if (journal_ && journal_->attach(packet, now))
                       journalBytes_.fetch_add(packet.size() - bare, std::memory_order_relaxed);
                     sendPacket(packet);
                     sent = true;
                   });
  if (journal_ && sent) guardSchedule_.midiSent(now);
}

void PacketSender::takeFeedback() {
  if (!journal_) return;
  const std::uint32_t peer = peerState_.load(std::memory_order_acquire);
  if (peer >> 1 != peerSessions_) peerSessions_ = peer >> 1, journal_->newPeer();
  if (peer & 1) journal_->peerSendsJournals();
  const std::uint32_t feedback = feedback_.exchange(0, std::memory_order_acquire);
  if (feedback & kFeedbackPending) journal_->receiverHas(static_cast<std::uint16_t>(feedback));
}

void PacketSender::sendGuardIfDue() {
  const auto due = guardSchedule_.nextDue();
  if (!journal_ || !due) return;
  const std::int64_t now = monotonicMillis();
  if (*due > now) return;
  const RtpHeader header{false, kPayloadType, encoder_->nextSequence(),
                         static_cast<std::uint32_t>(toSyncTicks(monotonicMicros())), ssrc_};
  guardSchedule_.guardSent(now);
  const std::vector<std::uint8_t> guard = journal_->guardPacket(header, now);
  if (guard.empty()) return;  // its journal is left out: nothing to send
  (void)encoder_->takeSequence();
  sendPacket(guard);
}

void PacketSender::sendPacket(const std::vector<std::uint8_t>& packet) {
  if (!peerKnown_.load(std::memory_order_acquire)) return;
  const net::Transfer sent = net::sendDatagram(socket_, packet, peer_.load());
  if (sent.ok()) packets_.fetch_add(1, std::memory_order_relaxed);
  else if (!net::isUnreachableEcho(sent.error))  // the peer's program is gone: the session tells
    fail(sent.error);
}

}  // namespace strandlink::protocol::rtp
