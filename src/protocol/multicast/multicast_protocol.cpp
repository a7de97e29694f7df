#include "protocol/multicast/multicast_protocol.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "net/addresses.h"
#include "net/socket_errors.h"
#include "protocol/multicast/group_settings.h"
#include "protocol/multicast/multicast_codec.h"

namespace strandlink::protocol::multicast {

namespace {

// The largest UDP payload there is, so that no datagram is ever cut.
constexpr std::size_t kReadLength = 65536;
// Reads per wake-up: a burst is taken in one go, yet the loop's other work (the
// window, the timers) never waits long behind a flood.
constexpr int kReadsPerWake = 64;
// Garbage is said in a line at most this often.
constexpr std::int64_t kGarbageQuietMicros = 60'000'000;

// One datagram on the connected sending socket: no address to share with the
// loop's thread, no wait (the socket does not block), no allocation.
net::SocketError sendOne(int fd, std::span<const std::uint8_t> payload) noexcept {
  ssize_t n;
  do {
    n = ::send(fd, payload.data(), payload.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? net::socketErrorFromErrno(errno) : net::SocketError::Ok;
}

// The field to take the user to when joining failed: a port held by a program
// that does not share it, else the interface (a local address that is not this
// computer's, or no interface with a route to the group).
protocol::SettingsField fieldOf(net::SocketError error) {
  return error == net::SocketError::AddressInUse ? protocol::SettingsField::RemotePort
                                                 : protocol::SettingsField::LocalHost;
}

}  // namespace

MulticastProtocol::MulticastProtocol(const PeerContext& context) : context_(context), buffer_(kReadLength) {}

MulticastProtocol::~MulticastProtocol() { stop(); }

StartOutcome MulticastProtocol::start(const PeerStart& start) {
  if (running_) return {};
  const GroupCheck checked = checkGroupSettings(start.settings, start.ttl, context_.sink);
  if (!checked.options) return {StartOutcome::Result::Refused, checked.firstRefused};
  net::SocketError error = net::SocketError::Ok;
  socket_ = MulticastSocket::open(*checked.options, error);
  if (error != net::SocketError::Ok) {
    const GroupOptions& o = *checked.options;
    context_.sink.peerProblem(SocketFailure{Operation::JoinGroup, error, false, o.port, o.group, o.interfaceAddress});
    return {StartOutcome::Result::Refused, fieldOf(error)};
  }
  receiver_ = GroupReceiver();
  datagramsIn_ = 0;
  garbageTold_ = 0;
  garbageToldAt_ = 0;
  otherWire_.sessionStarted();
  datagramsOut_.store(0, std::memory_order_relaxed);
  messagesOut_.store(0, std::memory_order_relaxed);
  lastSendError_.store(net::SocketError::Ok, std::memory_order_relaxed);
  // Joined: the group hears us from now, whoever is in it.
  status_ = protocol::LinkStatus::Connected;
  members_ = 0;
  notifier_ = std::make_unique<net::ReadNotifier>(socket_.receiveDescriptor(), [this] { readDatagrams(); });
  sendFd_.store(socket_.sendDescriptor(), std::memory_order_release);
  running_ = true;
  return {};
}

void MulticastProtocol::stop() {
  if (!running_) return;
  running_ = false;
  sendFd_.store(-1, std::memory_order_release);
  notifier_.reset();
  socket_.close();
  setStatus(protocol::LinkStatus::NotConnected);
}

// The MIDI thread. A SysEx longer than a datagram goes out in pieces; once a piece
// fails the rest is not sent, and the peers drop the unfinished message as garbage.
SendResult MulticastProtocol::send(midi::MidiEventView event, std::int64_t) noexcept {
  const int fd = sendFd_.load(std::memory_order_acquire);
  if (fd < 0) {
    lastSendError_.store(net::socketErrorFromErrno(EBADF), std::memory_order_relaxed);
    return SendResult::Failed;
  }
  net::SocketError error = net::SocketError::Ok;
  const bool whole = forEachDatagram(event, [&](std::span<const std::uint8_t> payload) {
    if (error != net::SocketError::Ok) return;
    error = sendOne(fd, payload);
    if (error == net::SocketError::Ok) datagramsOut_.fetch_add(1, std::memory_order_relaxed);
  });
  if (!whole) return SendResult::NotCarried;
  if (error != net::SocketError::Ok) {
    lastSendError_.store(error, std::memory_order_relaxed);
    return SendResult::Failed;
  }
  messagesOut_.fetch_add(1, std::memory_order_relaxed);
  return SendResult::Sent;
}

void MulticastProtocol::readDatagrams() {
  for (int i = 0; i < kReadsPerWake && running_; ++i) {
    sockaddr_in from{};
    std::int64_t arrival = 0;
    const net::Transfer read = socket_.receive(buffer_, from, &arrival);
    if (!read.ok()) {
      if (read.error != net::SocketError::WouldBlock && !net::isUnreachableEcho(read.error)) {
        context_.sink.peerProblem(SocketFailure{Operation::ReadGroup, read.error, true});
      }
      return;
    }
    take(from, std::span<const std::uint8_t>(buffer_).first(std::size_t(read.bytes)), arrival);
  }
}

// When a member is heard is our loop's clock's business, not the kernel's
// arrival time: the two may differ in tests.
void MulticastProtocol::take(const sockaddr_in& from, std::span<const std::uint8_t> payload,
                             std::int64_t arrivalMicros) {
  // Raw MIDI may hold any bytes: only a whole session packet is surely another's.
  if (otherWire_.heard(rtpSessionPacket(payload), context_.sink)) return;
  ++datagramsIn_;
  const std::int64_t now = context_.now();
  receiver_.receive(from, payload, now, [&](std::span<const std::uint8_t> message) {
    if (running_) context_.sink.peerEvent(midi::MidiEventView(message), std::nullopt, arrivalMicros, 0);
  });
  if (running_) countMembers(now);
}

void MulticastProtocol::tick() {
  if (!running_) return;
  const std::int64_t now = context_.now();
  const midi::HeldSet gone = receiver_.heldOfSilent(now - kMemberGoneMicros);
  if (!gone.empty()) context_.sink.peerMemberGone(gone);
  countMembers(now);
  tellGarbage(now);
}

// A change of the count changes the status line; a new member's address is
// told in the figures at once.
void MulticastProtocol::countMembers(std::int64_t nowMicros) {
  const std::size_t members = receiver_.sendersHeardSince(nowMicros - kMemberGoneMicros);
  if (members == members_) return;
  members_ = members;
  context_.sink.peerStatus(status_);
  context_.sink.peerFiguresChanged();
}

void MulticastProtocol::setStatus(protocol::LinkStatus status) {
  if (status == status_) return;
  status_ = status;
  context_.sink.peerStatus(status);
}

// Anyone in the group can send anything: garbage is no error worth a box, but the
// user hears of it in a line, at most once a minute.
void MulticastProtocol::tellGarbage(std::int64_t nowMicros) {
  const std::uint64_t dropped = receiver_.totals().dropped();
  if (dropped == garbageTold_ || (garbageToldAt_ != 0 && nowMicros - garbageToldAt_ < kGarbageQuietMicros)) return;
  context_.sink.peerNotice(GarbageDropped{dropped - garbageTold_});
  garbageTold_ = dropped;
  garbageToldAt_ = nowMicros;
}

LinkFigures MulticastProtocol::figures() {
  LinkFigures f{Measure::Group, {}, WholeLink{}};
  f.link.status = members_ > 0 ? protocol::LinkStatus::Connected : protocol::LinkStatus::NotConnected;
  const std::int64_t now = context_.now();
  std::vector<SenderFigures> heard = receiver_.senders();
  std::erase_if(heard, [&](const SenderFigures& s) { return s.lastHeardMicros < now - kPeerListedMicros; });
  std::sort(heard.begin(), heard.end(),
            [](const SenderFigures& a, const SenderFigures& b) { return a.lastHeardMicros > b.lastHeardMicros; });
  for (const SenderFigures& s : heard) {
    PeerFigures& peer = f.peers.emplace_back();
    peer.address = s.address;
    peer.status = s.lastHeardMicros >= now - kMemberGoneMicros ? protocol::LinkStatus::Connected
                                                               : protocol::LinkStatus::NotConnected;
    peer.datagramsIn = s.datagrams;
    peer.messagesIn = s.stream.messages;
    peer.dropped = s.stream.dropped();
  }
  const midi::StreamCounters in = receiver_.totals();
  f.link.datagramsIn = datagramsIn_;
  f.link.messagesIn = in.messages;
  f.link.dropped = in.dropped();
  f.link.datagramsOut = datagramsOut_.load(std::memory_order_relaxed);
  f.link.messagesOut = messagesOut_.load(std::memory_order_relaxed);
  return f;
}

}  // namespace strandlink::protocol::multicast
