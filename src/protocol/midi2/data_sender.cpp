#include "protocol/midi2/data_sender.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/monotonic_clock.h"
#include "base/quiet_threads.h"
#include "net/udp_socket.h"
#include "protocol/midi2/command_codec.h"
#include "protocol/midi2/ump_convert.h"

namespace strandlink::protocol::midi2 {

namespace {

// The empty commands of an idle sender: the first so long after the last command,
// each gap twice the one before, up to the longest.
constexpr int kFirstEmptyMs = 100;
constexpr int kLongestEmptyGapMs = 2000;

sockaddr_in socketAddressOf(const Endpoint& e) { return net::makeAddress(htonl(e.address), e.port); }

}  // namespace

DataSender::DataSender() { datagram_.reserve(kMaxDatagram); }

DataSender::~DataSender() { stop(); }

bool DataSender::start(int socket, net::SocketError& error) {
  stop();
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) {
    error = net::socketErrorFromErrno(errno);
    return false;
  }
  socket_ = socket;
  peers_ = {};
  Item drop;
  while (items_.pop(drop)) {
  }
  Control c;
  while (controls_.pop(c)) {
  }
  stopping_.store(false);
  lastError_.store(net::SocketError::Ok, std::memory_order_relaxed);
  datagrams_.store(0, std::memory_order_relaxed);
  messages_.store(0, std::memory_order_relaxed);
  const QuietThreads quiet;
  thread_ = std::thread([this] { run(); });
  return true;
}

void DataSender::stop() {
  if (!thread_.joinable()) return;
  stopping_.store(true);
  wake();
  thread_.join();
  ::close(wake_);
  wake_ = -1;
  socket_ = -1;
}

void DataSender::wake() noexcept {
  if (wake_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
}

void DataSender::open(std::size_t slot, const Endpoint& peer) {
  Control c;
  c.kind = Control::Open;
  c.slot = std::uint8_t(slot);
  c.peer = peer;
  if (controls_.push(c)) wake();
}

void DataSender::close(std::size_t slot) {
  Control c;
  c.kind = Control::Close;
  c.slot = std::uint8_t(slot);
  if (controls_.push(c)) wake();
}

void DataSender::resend(std::size_t slot, std::uint16_t first, std::uint16_t count) {
  Control c;
  c.kind = Control::Resend;
  c.slot = std::uint8_t(slot);
  c.first = first;
  c.count = count;
  if (controls_.push(c)) wake();
}

bool DataSender::queueFor(std::size_t slot, std::span<const std::uint32_t> packet) {
  Item item;
  item.size = std::uint8_t(std::min<std::size_t>(packet.size(), 4));
  std::copy_n(packet.begin(), item.size, item.words.begin());
  item.peerMask = std::uint8_t(1u << slot);
  if (!items_.push(item)) return false;
  wake();
  return true;
}

SendResult DataSender::queue(midi::MidiEventView event) noexcept {
  bool full = false;
  const bool whole = toUmp(event, [&](const Ump& u) {
    Item item;
    item.size = u.size;
    item.words[0] = u.words[0];
    item.words[1] = u.words[1];
    if (!full && !items_.push(item)) full = true;
  });
  if (!whole) return SendResult::NotCarried;
  if (full) {
    lastError_.store(net::SocketError::WouldBlock, std::memory_order_relaxed);
    return SendResult::Failed;
  }
  messages_.fetch_add(1, std::memory_order_relaxed);
  if (sleeping_.load()) wake();
  return SendResult::Sent;
}

// --- the sending thread ----------------------------------------------------------

void DataSender::run() {
  while (!stopping_.load()) {
    Control c;
    while (controls_.pop(c)) takeControl(c);
    Item item;
    while (items_.pop(item)) {
      for (std::size_t s = 0; s < peers_.size(); ++s)
        if (peers_[s].open && (item.peerMask & (1u << s))) add(peers_[s], item);
    }
    for (Peer& p : peers_)
      if (p.open && p.built > 0) flush(p);
    wait(sendDueEmpties(monotonicMicros() / 1000));
  }
}

// The empty commands due by now; how long until the next (-1: none, no peer).
int DataSender::sendDueEmpties(std::int64_t nowMs) {
  int untilNext = -1;
  for (Peer& p : peers_) {
    if (!p.open) continue;
    if (p.emptyAt <= nowMs) {
      sendCommand(p, {});
      p.emptyAt = nowMs + p.emptyGapMs;
      p.emptyGapMs = std::min(2 * p.emptyGapMs, kLongestEmptyGapMs);
    }
    const int wait = int(p.emptyAt - nowMs);
    if (untilNext < 0 || wait < untilNext) untilNext = wait;
  }
  return untilNext;
}

void DataSender::wait(int timeoutMs) {
  sleeping_.store(true);
  if (!items_.ready() && !stopping_.load()) {
    pollfd p{wake_, POLLIN, 0};
    ::poll(&p, 1, timeoutMs);
  }
  sleeping_.store(false);
  std::uint64_t drained = 0;
  [[maybe_unused]] const ssize_t n = ::read(wake_, &drained, sizeof drained);
}

void DataSender::takeControl(const Control& c) {
  if (c.slot >= peers_.size()) return;
  Peer& p = peers_[c.slot];
  switch (c.kind) {
    case Control::Open:
      p = Peer{};
      p.open = true;
      p.to = socketAddressOf(c.peer);
      p.emptyAt = monotonicMicros() / 1000 + kLongestEmptyGapMs;
      p.emptyGapMs = kLongestEmptyGapMs;
      break;
    case Control::Close: p.open = false; break;
    case Control::Resend:
      if (p.open) answerResend(p, c.first, c.count);
      break;
  }
}

// A packet is never split between commands.
void DataSender::add(Peer& peer, const Item& item) {
  if (peer.built + item.size > kCommandWords) flush(peer);
  std::copy_n(item.words.begin(), item.size, peer.building.begin() + std::ptrdiff_t(peer.built));
  peer.built += item.size;
}

void DataSender::flush(Peer& peer) {
  sendCommand(peer, {peer.building.data(), peer.built});
  peer.built = 0;
  peer.emptyAt = monotonicMicros() / 1000 + kFirstEmptyMs;
  peer.emptyGapMs = kFirstEmptyMs;
}

// One new command, kept, and sent after copies of those before it.
void DataSender::sendCommand(Peer& peer, std::span<const std::uint32_t> words) {
  Kept& k = peer.history[peer.next % kKeptCommands];
  k.sequence = peer.next++;
  k.size = std::uint8_t(words.size());
  std::copy(words.begin(), words.end(), k.words.begin());
  peer.kept = std::min(peer.kept + 1, kKeptCommands);
  beginDatagram(datagram_);
  const std::size_t copies = std::min(kCopies, peer.kept - 1);
  // The copies, oldest first, as many as fit beside the new command.
  const std::size_t room = kMaxDatagram - 4 - commandBytes(words.size());
  std::size_t from = copies;
  while (from > 0) {
    std::size_t need = 0;
    for (std::size_t i = from; i > 0; --i)
      need += commandBytes(peer.history[std::uint16_t(k.sequence - i) % kKeptCommands].size);
    if (need <= room) break;
    --from;
  }
  for (std::size_t i = from; i > 0; --i) {
    const Kept& old = peer.history[std::uint16_t(k.sequence - i) % kKeptCommands];
    appendUmpData(datagram_, old.sequence, {old.words.data(), old.size});
  }
  appendUmpData(datagram_, k.sequence, words);
  transmit(peer);
}

const DataSender::Kept* DataSender::keptAt(const Peer& peer, std::uint16_t sequence) const {
  const int back = sequenceDistance(sequence, peer.next);  // 1: the latest
  if (back < 1 || std::size_t(back) > peer.kept) return nullptr;
  return &peer.history[sequence % kKeptCommands];
}

// What is still kept is sent again with its own numbers, as many to a datagram
// as fit; a start we no longer (or never) had is answered so.
void DataSender::answerResend(Peer& peer, std::uint16_t first, std::uint16_t count) {
  if (!keptAt(peer, first)) {
    // The earliest we still hold, so that the peer can ask from there.
    const std::uint16_t earliest = std::uint16_t(peer.next - peer.kept);
    beginDatagram(datagram_);
    appendRetransmitError(datagram_, 0x01, earliest);
    transmit(peer);
    return;
  }
  beginDatagram(datagram_);
  const int available = sequenceDistance(first, peer.next);
  const int wanted = count == 0 ? available : std::min<int>(count, available);
  for (int i = 0; i < wanted; ++i) {
    const Kept* k = keptAt(peer, std::uint16_t(first + i));
    if (datagram_.size() + commandBytes(k->size) > kMaxDatagram) {
      transmit(peer);
      beginDatagram(datagram_);
    }
    appendUmpData(datagram_, k->sequence, {k->words.data(), k->size});
  }
  if (datagram_.size() > 4) transmit(peer);
}

void DataSender::transmit(const Peer& peer) {
  const net::Transfer sent = net::sendDatagram(socket_, datagram_, peer.to);
  if (sent.ok()) datagrams_.fetch_add(1, std::memory_order_relaxed);
  else lastError_.store(sent.error, std::memory_order_relaxed);
}

}  // namespace strandlink::protocol::midi2
