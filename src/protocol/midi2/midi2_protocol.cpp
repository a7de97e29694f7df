#include "protocol/midi2/midi2_protocol.h"

#include <arpa/inet.h>

#include <algorithm>
#include <utility>

#include "base/monotonic_clock.h"
#include "net/addresses.h"
#include "protocol/create_socket.h"
#include "protocol/midi2/start_check.h"
#include "protocol/midi2/stream_responder.h"
#include "protocol/peer_filter.h"
#include "settings/preferences.h"

namespace strandlink::protocol::midi2 {

namespace {

constexpr std::size_t kReadLength = 65536;
constexpr int kReadsPerWake = 64;

Endpoint endpointOf(const sockaddr_in& a) { return {ntohl(a.sin_addr.s_addr), ntohs(a.sin_port)}; }
sockaddr_in socketAddressOf(const Endpoint& e) { return net::makeAddress(htonl(e.address), e.port); }
std::string dottedOf(const Endpoint& e) { return net::formatAddress(htonl(e.address)).toStdString(); }

UmpRefusal umpRefusalOf(Refusal r) {
  switch (r) {
    case Refusal::Declined: return UmpRefusal::Declined;
    case Refusal::Busy: return UmpRefusal::Busy;
    case Refusal::WantsAuthentication: return UmpRefusal::WantsSecret;
    case Refusal::AuthenticationFailed: return UmpRefusal::SecretRefused;
    case Refusal::None:
    case Refusal::NoAnswer: break;
  }
  return UmpRefusal::NoAnswer;
}

void addCounters(UmpCounters& to, const UmpCounters& from) {
  to.messages += from.messages;
  to.otherGroups += from.otherGroups;
  to.notCarried += from.notCarried;
  to.brokenSysEx += from.brokenSysEx;
  to.cutPackets += from.cutPackets;
}

}  // namespace

Midi2Protocol::Midi2Protocol(const PeerContext& context) : context_(context), buffer_(kReadLength) {
  wakeup_.setSingleShot(true);
  wakeup_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&wakeup_, &QTimer::timeout, [this] {
    if (!session_) return;
    session_->tick(context_.now());
    service();
  });
}

Midi2Protocol::~Midi2Protocol() { stop(); }

StartOutcome Midi2Protocol::start(const PeerStart& start) {
  stop();
  const LinkAddressCheck checked = checkLinkAddresses(start.settings, context_.sink);
  if (!checked.addresses) return {StartOutcome::Result::Refused, checked.firstRefused};
  if (!createSocket(socket_, context_.sink, Operation::CreateSessionSocket))
    return {StartOutcome::Result::CannotCreateSocket, SettingsField::None};
  socket_.stampArrivals();
  socket_.widenReceiveBuffer();
  const sockaddr_in& local = checked.addresses->local;
  if (const net::SocketError e = socket_.bind(local); net::failed(e)) {
    context_.sink.peerProblem(SocketFailure{Operation::BindControlSocket, e, false, ntohs(local.sin_port)});
    closeAll();
    return {StartOutcome::Result::Refused,
            e == net::SocketError::AddressNotAvailable ? SettingsField::LocalHost : SettingsField::LocalPort};
  }
  net::SocketError error = net::SocketError::Ok;
  if (!sender_.start(socket_.descriptor(), error)) {
    context_.sink.peerProblem(SocketFailure{Operation::StartSender, error});
    closeAll();
    return {StartOutcome::Result::Refused, SettingsField::None};
  }
  host_ = checked.addresses->host;
  name_ = start.name.toStdString();
  instanceId_ = settings::productInstanceId().toStdString();
  SessionConfig config{
      {name_, instanceId_}, std::nullopt, start.user.toStdString(), start.secret.toStdString(), start.users};
  if (host_) config.host = endpointOf(*host_);
  else
    config.admits = [&admission = context_.admission](const Endpoint& from, const std::string& name) {
      return admission.judge(Inviter{dottedOf(from), name});
    };
  session_ = std::make_unique<Session>(std::move(config));
  refusals_.reset();
  for (UmpReader& r : readers_) r = UmpReader();
  retired_ = {};
  datagramsIn_ = 0;
  otherWire_.sessionStarted();
  refusalSaid_ = false;
  status_ = protocol::LinkStatus::NotConnected;
  notifier_ = std::make_unique<net::ReadNotifier>(socket_.descriptor(), [this] { readDatagrams(); });
  session_->start(context_.now());
  service();
  return {};
}

void Midi2Protocol::stop() {
  if (!session_) return;
  session_->stop();
  sendSessionDatagrams();  // the Byes
  closeAll();
  if (std::exchange(status_, protocol::LinkStatus::NotConnected) == protocol::LinkStatus::Connected)
    context_.sink.peerStatus(protocol::LinkStatus::NotConnected);
}

void Midi2Protocol::closeAll() {
  wakeup_.stop();
  sender_.stop();
  notifier_.reset();
  socket_.close();
  session_.reset();
}

void Midi2Protocol::readDatagrams() {
  for (int i = 0; i < kReadsPerWake && session_; ++i) {
    sockaddr_in from{};
    std::int64_t arrival = 0;
    const net::Transfer read = socket_.receiveFrom(buffer_, from, &arrival);
    if (!read.ok()) return;
    take(from, std::span<const std::uint8_t>(buffer_).first(std::size_t(read.bytes)), arrival);
  }
}

void Midi2Protocol::take(const sockaddr_in& from, std::span<const std::uint8_t> bytes, std::int64_t arrival) {
  // With a host named, only its address is a peer; a host takes any client.
  if (host_ && !context_.filter.accept(from, host_->sin_addr.s_addr)) return;
  if (otherWire_.heard(rtpSessionPacket(bytes), context_.sink)) return;
  ++datagramsIn_;
  session_->receive(endpointOf(from), bytes, context_.now());
  if (!takeEvents(arrival)) return;
  service();
}

// A client kept waiting hears at once, not at its next try (it makes none).
void Midi2Protocol::inviterAnswered() {
  if (!session_) return;
  session_->reconsider(context_.now());
  service();
}

void Midi2Protocol::service() {
  sendSessionDatagrams();
  if (!takeEvents(monotonicMicros())) return;
  armTimer();
  const auto now = session_->established() > 0 ? protocol::LinkStatus::Connected : protocol::LinkStatus::NotConnected;
  if (now == status_) return;
  status_ = now;
  context_.sink.peerStatus(now);
}

void Midi2Protocol::sendSessionDatagrams() {
  for (const Outgoing& out : session_->takeOutgoing()) {
    const net::Transfer sent = socket_.sendTo(out.datagram, socketAddressOf(out.to));
    if (!sent.ok() && !net::isUnreachableEcho(sent.error))
      context_.sink.peerProblem(SocketFailure{Operation::SendSessionPacket, sent.error, true});
  }
}

// False when the link stopped meanwhile.
bool Midi2Protocol::takeEvents(std::int64_t arrival) {
  for (const SessionEvent& e : session_->takeEvents()) {
    switch (e.kind) {
      case EventKind::Up:
        if (const auto peer = session_->peerOf(e.slot)) sender_.open(e.slot, *peer);
        readers_[e.slot].reset();
        held_.forget(e.slot);
        refusalSaid_ = false;
        context_.sink.peerNotice(UmpSessionUp{session_->identityOf(e.slot).name});
        break;
      case EventKind::Down:
        sender_.close(e.slot);
        addCounters(retired_, readers_[e.slot].counters());
        readers_[e.slot] = UmpReader();
        context_.sink.peerNotice(UmpSessionEnded{e.peerName, e.reason == rtp::DownReason::PeerLeft ? UmpEnd::PeerLeft
                                                             : e.reason == rtp::DownReason::PeerRestarted
                                                                 ? UmpEnd::PeerRestarted
                                                                 : UmpEnd::NoAnswer});
        if (session_) clientGone(e.slot);
        break;
      case EventKind::ResetSent:
        if (const auto peer = session_->peerOf(e.slot)) sender_.open(e.slot, *peer);
        break;
      case EventKind::Resend: sender_.resend(e.slot, e.sequence, e.count); break;
      case EventKind::Data:
        if (!deliver(e.slot, e.words, arrival)) return false;
        break;
      case EventKind::GapUnfilled: gapUnfilled(e.slot); break;
      case EventKind::ProofRefused:
        context_.sink.peerNotice(UmpProofRefused{
            e.peerName, {dottedOf(e.from), e.from.port}, e.early, int((e.wait + kSecond - 1) / kSecond)});
        break;
      case EventKind::InviterRefused:
      case EventKind::InviterWaits: inviterJudged(e); break;
      case EventKind::Refused:
        if (!std::exchange(refusalSaid_, true)) context_.sink.peerNotice(UmpInvitationRefused{umpRefusalOf(e.refusal)});
        break;
    }
    if (!session_) return false;
  }
  return true;
}

// A client the admission kept out is said once; one it asks about, once a question.
void Midi2Protocol::inviterJudged(const SessionEvent& e) {
  const Inviter who{dottedOf(e.from), e.peerName};
  const rtp::PeerAddress at{who.host, e.from.port};
  if (e.kind == EventKind::InviterWaits) {
    if (context_.admission.ask(who)) context_.sink.peerNotice(InviterAsks{e.peerName, at, InvitedTo::NetworkMidi2});
  } else if (refusals_.refused(e.peerName, at)) {
    context_.sink.peerNotice(
        InviterRefused{e.peerName, at, keptOutBy(context_.admission, who), {}, {}, InvitedTo::NetworkMidi2});
  }
}

bool Midi2Protocol::deliver(std::size_t slot, const std::vector<std::uint32_t>& words, std::int64_t arrival) {
  const EndpointDescription us{name_, instanceId_};
  readers_[slot].read(
      words,
      [&](std::span<const std::uint8_t> message) {
        if (!session_) return;
        held_.played(slot, midi::MidiEventView(message));
        context_.sink.peerEvent(midi::MidiEventView(message), std::nullopt, arrival, slot);
      },
      [&](std::span<const std::uint32_t, 4> packet) {
        for (const StreamPacket& answer : answerStream(packet, us)) (void)sender_.queueFor(slot, answer);
      });
  return session_ != nullptr;
}

// What the client left sounding goes with it, save what another still holds; the
// last one's fall is the link's, which releases everything. A restarted peer's new
// session may be up within the same call: its old notes go all the same.
void Midi2Protocol::clientGone(std::size_t slot) {
  const midi::HeldSet gone = held_.leave(slot);
  if (status_ == protocol::LinkStatus::Connected && session_->established() == 0) {
    status_ = protocol::LinkStatus::NotConnected;
    context_.sink.peerStatus(status_);
  } else if (!gone.empty()) {
    context_.sink.peerMemberGone(gone);
  }
}

// A lost command may have been a note's end: what the client holds goes, save
// what another still holds, as when it leaves; its later notes play on.
void Midi2Protocol::gapUnfilled(std::size_t slot) {
  readers_[slot].cut();
  if (const midi::HeldSet gone = held_.leave(slot); !gone.empty()) context_.sink.peerMemberGone(gone);
}

void Midi2Protocol::tick() {
  if (!session_) return;
  session_->tick(context_.now());
  service();
}

void Midi2Protocol::armTimer() {
  const std::optional<Micros> next = session_->nextWakeup();
  if (!next) {
    wakeup_.stop();
    return;
  }
  const Micros wait = std::max<Micros>(0, *next - context_.now());
  wakeup_.start(int((wait + 999) / 1000));
}

UmpCounters Midi2Protocol::received() const {
  UmpCounters all = retired_;
  for (const UmpReader& r : readers_) addCounters(all, r.counters());
  return all;
}

LinkFigures Midi2Protocol::figures() {
  LinkFigures f{Measure::Sessions, {}, WholeLink{}};
  f.link.status = status_;
  f.link.refused = context_.filter.refused();
  if (!session_) return f;
  const SessionCounters& c = session_->counters();
  for (std::size_t slot = 0; slot < kMaxClients; ++slot) {
    const auto peer = session_->peerOf(slot);
    if (!peer) continue;
    PeerFigures& p = f.peers.emplace_back();
    p.name = QString::fromStdString(session_->identityOf(slot).name);
    p.address = socketAddressOf(*peer);
    p.status = protocol::LinkStatus::Connected;
    if (const auto rtt = session_->roundTripOf(slot)) p.roundTripMs = double(*rtt) / 1000.0;
  }
  const UmpCounters in = received();
  f.link.commandsLost = c.unfilled;
  f.link.fromCopies = c.fromCopies;
  f.link.asked = c.asked;
  f.link.cameWhenAsked = c.recovered;
  f.link.answered = c.requests;
  f.link.datagramsIn = datagramsIn_;
  f.link.messagesIn = in.messages;
  f.link.dropped = c.malformed + in.otherGroups + in.notCarried + in.brokenSysEx + in.cutPackets;
  f.link.datagramsOut = sender_.datagramsSent();
  f.link.messagesOut = sender_.messagesSent();
  return f;
}

}  // namespace strandlink::protocol::midi2
