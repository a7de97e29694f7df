#include "protocol/classic/classic_protocol.h"

#include <array>
#include <vector>

#include "net/socket_errors.h"
#include "protocol/classic/classic_codec.h"
#include "protocol/peer_filter.h"

namespace strandlink::protocol::classic {

ClassicProtocol::ClassicProtocol(const PeerContext& context)
    : context_(context),
      monitor_([this] { sendControl(kProbeByte, Operation::SendProbe); },
               [this] { sendControl(kReplyByte, Operation::SendProbeReply); },
               [this](protocol::LinkStatus s) { context_.sink.peerStatus(s); }),
      midiOversize_(ClassicPort::Midi, kMidiReadLength),
      chatOversize_(ClassicPort::Chat, kChatReadLength) {}

ClassicProtocol::~ClassicProtocol() { endpoints_.close(); }

StartOutcome ClassicProtocol::start(const PeerStart& start) {
  if (running()) return {};
  const AddressCheck checked = checkAddresses(start.settings, context_.sink);
  if (!checked.addresses) return {StartOutcome::Result::Refused, checked.firstRefused};
  const auto opened = endpoints_.open(
      *checked.addresses, context_.sink, [this] { readMidi(); }, [this] { readChat(); });
  if (opened != UdpEndpoints::Outcome::Open) {
    // A port in use is the local port's problem; an address that is not this
    // computer's, the local address's.
    const auto field = endpoints_.bindError() == net::SocketError::AddressNotAvailable
                           ? protocol::SettingsField::LocalHost
                           : protocol::SettingsField::LocalPort;
    const auto result = opened == UdpEndpoints::Outcome::CannotCreate ? StartOutcome::Result::CannotCreateSocket
                                                                      : StartOutcome::Result::Refused;
    return {result, field};
  }
  otherWire_.sessionStarted();
  midiOpener_.reset();
  chatOpener_.reset();
  ownSealer_ = nullptr;
  if (!start.key.empty()) {
    ownSealer_ = sealers_.emplace_back(std::make_unique<DatagramSealer>(start.key)).get();
    midiOpener_.emplace(start.key, ownSealer_->id(), ClassicPort::Midi);
    chatOpener_.emplace(start.key, ownSealer_->id(), ClassicPort::Chat);
  }
  toldKeyMissing_ = false;
  untagged_ = replayed_ = 0;
  // Before the socket: a MIDI thread that sees the new socket sees its sealer.
  sealer_.store(ownSealer_, std::memory_order_release);
  stamping_.store(start.timing == settings::Timing::Steady, std::memory_order_relaxed);
  peer_.store(endpoints_.midiRemote());
  socket_.store(endpoints_.midi().descriptor(), std::memory_order_release);
  return {};
}

// The MIDI thread has stopped sending by now (the link closes its input first).
void ClassicProtocol::stop() {
  if (!running()) return;
  monitor_.sessionEnded();
  socket_.store(-1, std::memory_order_release);
  endpoints_.close();
}

// The MIDI thread: a sendto on a socket that stays open until the input closed.
SendResult ClassicProtocol::send(midi::MidiEventView event, std::int64_t playedMicros) noexcept {
  if (event.isSysEx()) return SendResult::NotCarried;
  const auto message = midi::ShortMessage::fromBytes(event.bytes());
  const MidiDatagram d =
      encodeMidi(message, stamping_.load(std::memory_order_relaxed) ? std::optional(playedMicros) : std::nullopt);
  const int socket = socket_.load(std::memory_order_acquire);
  std::array<std::uint8_t, kStampedDatagramSize + kSealSize> sealed;
  std::span<const std::uint8_t> wire = d.wire();
  if (DatagramSealer* sealer = sealer_.load(std::memory_order_acquire))
    wire = std::span(sealed).first(sealer->seal(ClassicPort::Midi, wire, sealed));
  const net::Transfer sent = net::sendDatagram(socket, wire, peer_.load());
  if (sent.ok()) return SendResult::Sent;
  sendError_.store(sent.error, std::memory_order_relaxed);
  return SendResult::Failed;
}

void ClassicProtocol::tick() {
  monitor_.tick();
  for (OversizeNotice* o : {&midiOversize_, &chatOversize_}) {
    if (const auto notice = o->due(OversizeNotice::Clock::now())) context_.sink.peerNotice(*notice);
  }
}

LinkFigures ClassicProtocol::figures() {
  LinkFigures f =
      linkFigures(monitor_.quality().figures(LinkQuality::Clock::now()), monitor_.status(), context_.filter.refused());
  f.peers.front().address = endpoints_.midiRemote();
  f.link.untagged = untagged_;
  f.link.replayed = replayed_;
  return f;
}

bool ClassicProtocol::sendChatLine(std::span<const std::uint8_t> line) {
  if (!running()) return false;
  std::vector<std::uint8_t> sealed;
  if (ownSealer_) {
    sealed.resize(line.size() + kSealSize);
    line = std::span(sealed).first(ownSealer_->seal(ClassicPort::Chat, line, sealed));
  }
  const net::Transfer sent = endpoints_.chat().sendTo(line, endpoints_.chatRemote());
  if (!sent.ok()) {
    context_.sink.peerProblem(SocketFailure{Operation::SendChat, sent.error, true});
  }
  return true;
}

void ClassicProtocol::readMidi() {
  if (!running()) return;
  std::array<std::uint8_t, kMidiReadLength> buffer{};
  sockaddr_in from{};
  std::int64_t arrival = 0;
  const net::Transfer read = endpoints_.midi().receiveFrom(buffer, from, &arrival);
  if (!take(read, from, midiOversize_)) {
    // A port-unreachable answer to one of our probes is no fault of a read; the
    // connection check already shows it.
    if (!read.ok() && read.error != net::SocketError::MessageTooLong && !net::isUnreachableEcho(read.error)) {
      context_.sink.peerProblem(SocketFailure{Operation::ReadMidi, read.error, true});
    }
    return;
  }
  auto datagram = std::span<const std::uint8_t>(buffer).first(std::size_t(read.bytes));
  if (!unseal(midiOpener_, datagram, from, otherThanClassicMidi)) return;
  // A peer on another protocol is told of, not played: its bytes are no message.
  if (otherWire_.heard(otherThanClassicMidi(datagram), context_.sink)) return;
  const ReceivedMidi received = decodeMidi(datagram);
  context_.sink.peerEvent(midi::MidiEventView(received.message.bytes), received.stamp, arrival, 0);
}

// Empty and failed reads are dropped; a line longer than the read length is counted.
void ClassicProtocol::readChat() {
  if (!running()) return;
  // A keyed line may be as long as an unkeyed one: the trailer comes on top.
  std::array<std::uint8_t, kChatReadLength + kSealSize> buffer{};
  sockaddr_in from{};
  const auto readable = std::span(buffer).first(kChatReadLength + (chatOpener_ ? kSealSize : 0));
  const net::Transfer read = endpoints_.chat().receiveFrom(readable, from);
  if (!take(read, from, chatOversize_)) return;
  auto datagram = std::span<const std::uint8_t>(buffer).first(std::size_t(read.bytes));
  if (!unseal(chatOpener_, datagram, from, rtpSessionPacket)) return;
  if (otherWire_.heard(rtpSessionPacket(datagram), context_.sink)) return;
  const ChatDatagram chat = decodeChat(datagram);
  if (chat.kind == ChatDatagram::Kind::Control) {
    monitor_.controlByte(chat.control);
    if (chat.control == kReplyByte) context_.sink.peerFiguresChanged();
    return;
  }
  context_.sink.peerChatLine(
      QString::fromLatin1(reinterpret_cast<const char*>(chat.line.data()), qsizetype(chat.line.size())));
}

bool ClassicProtocol::take(const net::Transfer& read, const sockaddr_in& from, OversizeNotice& oversize) {
  const bool tooLong = read.error == net::SocketError::MessageTooLong;
  if (!tooLong && read.bytes < 1) return false;
  if (!context_.filter.accept(from, endpoints_.midiRemote().sin_addr.s_addr)) return false;
  if (!tooLong) return true;
  if (const auto notice = oversize.count(from, OversizeNotice::Clock::now())) context_.sink.peerNotice(*notice);
  return false;
}

bool ClassicProtocol::unseal(std::optional<DatagramOpener>& opener, std::span<const std::uint8_t>& datagram,
                             const sockaddr_in& from, OtherWireTest otherWire) {
  if (!opener) return true;
  const DatagramOpener::Opened opened = opener->open(datagram);
  switch (opened.verdict) {
    case DatagramOpener::Verdict::Fresh: datagram = opened.message; return !datagram.empty();
    case DatagramOpener::Verdict::Replayed: ++replayed_; return false;
    case DatagramOpener::Verdict::Untagged: break;
  }
  ++untagged_;
  if (otherWire_.heard(otherWire(datagram), context_.sink)) return false;
  if (!toldKeyMissing_) context_.sink.peerNotice(KeyMissing{from.sin_addr.s_addr, ntohs(from.sin_port)});
  toldKeyMissing_ = true;
  return false;
}

// Probe and reply both leave from the MIDI socket for the peer's chat port.
void ClassicProtocol::sendControl(std::uint8_t byte, Operation operation) {
  const std::array<std::uint8_t, 1> datagram{byte};
  std::array<std::uint8_t, 1 + kSealSize> sealed;
  std::span<const std::uint8_t> wire = datagram;
  if (ownSealer_) wire = std::span(sealed).first(ownSealer_->seal(ClassicPort::Chat, datagram, sealed));
  const net::Transfer sent = endpoints_.midi().sendTo(wire, endpoints_.chatRemote());
  if (!sent.ok()) context_.sink.peerProblem(SocketFailure{operation, sent.error, true});
}

}  // namespace strandlink::protocol::classic
