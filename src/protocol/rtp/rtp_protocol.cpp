#include "protocol/rtp/rtp_protocol.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "base/monotonic_clock.h"
#include "net/addresses.h"
#include "net/socket_errors.h"
#include "protocol/create_socket.h"
#include "protocol/admission.h"
#include "protocol/peer_filter.h"
#include "protocol/rtp/session_packet.h"
#include "protocol/rtp/start_check.h"
#include "protocol/rtp/system_random.h"

namespace strandlink::protocol::rtp {

namespace {

// The largest datagram UDP carries: a peer's packet is read whole, whatever its size.
constexpr std::size_t kReadLength = 65536;

// Read once: a switch for measuring the journal's worth, not a setting.
bool journalByDefault() {
  static const bool off = [] {
    const char* v = std::getenv("STRANDLINK_NO_JOURNAL");
    return v && *v && std::string_view(v) != "0";
  }();
  return !off;
}

}  // namespace

PeerAddress peerAddressOf(const sockaddr_in& a) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return {text, ntohs(a.sin_port)};
}

sockaddr_in socketAddressOf(const PeerAddress& a) {
  in_addr address{};
  ::inet_pton(AF_INET, a.host.c_str(), &address);
  return net::makeAddress(address.s_addr, a.port);
}

RtpProtocol::RtpProtocol(const PeerContext& context)
    : context_(context), sendsJournal_(journalByDefault()), buffer_(kReadLength) {
  wakeup_.setSingleShot(true);
  wakeup_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&wakeup_, &QTimer::timeout, [this] { tickSessions(); });
}

RtpProtocol::~RtpProtocol() { stop(); }

StartOutcome RtpProtocol::start(const PeerStart& start) {
  stop();
  const SessionAddressCheck checked = checkSessionAddresses(start.settings, context_.sink, start.moreRemotes);
  if (!checked.addresses) return {StartOutcome::Result::Refused, checked.firstRefused};
  if (const StartOutcome opened = openSockets(checked.addresses->localControl); !opened.running()) {
    closeAll();
    return opened;
  }
  net::SocketError error = net::SocketError::Ok;
  const std::uint32_t ssrc = systemRandom<std::uint32_t>();
  if (!sender_.start(data_.descriptor(), ssrc, systemRandom<std::uint16_t>(), sendsJournal_, error)) {
    context_.sink.peerProblem(SocketFailure{Operation::StartSender, error});
    closeAll();
    return {StartOutcome::Result::Refused, protocol::SettingsField::None};
  }
  remotes_ = checked.addresses->remotes;
  ssrc_ = ssrc;
  name_ = start.name.toStdString();
  laneUsed_ = {};
  retiredRepairs_ = {};
  refusals_.reset();
  otherWire_.sessionStarted();
  status_ = protocol::LinkStatus::NotConnected;
  linkedShown_ = 0;
  running_ = true;
  // Each remote's session, or the first listener.
  if (remotes_.empty()) addParticipant();
  for (const sockaddr_in& remote : remotes_) addParticipant(remote);
  serviceSessions();
  return {};
}

// Both ports, or neither (the caller closes what was opened): a half-open session
// would answer invitations it cannot keep. A port in use is the local port's
// problem; an address that is not this computer's, the local address's.
StartOutcome RtpProtocol::openSockets(const sockaddr_in& localControl) {
  const std::uint16_t port = ntohs(localControl.sin_port);
  for (const SessionPort which : {SessionPort::Control, SessionPort::Data}) {
    net::UdpSocket& socket = which == SessionPort::Control ? control_ : data_;
    if (!createSocket(socket, context_.sink, Operation::CreateSessionSocket))
      return {StartOutcome::Result::CannotCreateSocket, protocol::SettingsField::None};
    if (which == SessionPort::Data) {
      // The kernel's arrival times: steady timing places what arrives by them.
      socket.stampArrivals();
      socket.widenReceiveBuffer();
    }
    const bool control = which == SessionPort::Control;
    sockaddr_in local = localControl;
    local.sin_port = htons(static_cast<std::uint16_t>(control ? port : port + 1));
    if (const net::SocketError e = socket.bind(local); net::failed(e)) {
      context_.sink.peerProblem(SocketFailure{control ? Operation::BindControlSocket : Operation::BindDataSocket, e,
                                              false, ntohs(local.sin_port)});
      return {StartOutcome::Result::Refused, e == net::SocketError::AddressNotAvailable
                                                 ? protocol::SettingsField::LocalHost
                                                 : protocol::SettingsField::LocalPort};
    }
    auto& notifier = which == SessionPort::Control ? controlNotifier_ : dataNotifier_;
    notifier = std::make_unique<net::ReadNotifier>(socket.descriptor(), [this, which] { readDatagram(which); });
  }
  return {};
}

void RtpProtocol::stop() {
  if (!running_) return;
  for (const auto& p : participants_) {
    p->session.stop();
    sendSessionPackets(p->session);  // the BY
  }
  closeAll();
  if (std::exchange(status_, protocol::LinkStatus::NotConnected) == protocol::LinkStatus::Connected)
    context_.sink.peerStatus(protocol::LinkStatus::NotConnected);
}

void RtpProtocol::closeAll() {
  running_ = false;
  wakeup_.stop();
  sender_.stop();
  controlNotifier_.reset();
  dataNotifier_.reset();
  control_.close();
  data_.close();
  participants_.clear();
}

// --- receiving ---------------------------------------------------------------

void RtpProtocol::readDatagram(SessionPort port) {
  const net::UdpSocket& socket = port == SessionPort::Control ? control_ : data_;
  sockaddr_in from{};
  std::int64_t arrival = 0;
  const net::Transfer read = socket.receiveFrom(buffer_, from, &arrival);
  // A failed read (an ICMP echo of a send to a peer that is gone) says nothing the
  // session does not learn by itself.
  if (!read.ok() || !running_) return;
  const std::span<const std::uint8_t> bytes(buffer_.data(), std::size_t(read.bytes));
  const PeerAddress sender = peerAddressOf(from);
  if (!admitted(from)) return refuseFiltered(port, sender, bytes);
  if (isSessionPacket(bytes)) takeSessionPacket(port, sender, bytes);
  else if (otherWire_.heard(otherThanRtp(bytes), context_.sink)) return;
  else if (port == SessionPort::Data) takeMidiPacket(sender, bytes, arrival);
  else dropped(sender, DecodeError::BadSignature);
}

// The peer filter first: what a stranger sends is never reported. With remotes
// named, only their hosts are peers.
bool RtpProtocol::admitted(const sockaddr_in& from) {
  if (remotes_.empty()) return true;
  const auto remote = std::find_if(remotes_.begin(), remotes_.end(),
                                   [&](const sockaddr_in& r) { return r.sin_addr.s_addr == from.sin_addr.s_addr; });
  return context_.filter.accept(from, (remote != remotes_.end() ? *remote : remotes_.front()).sin_addr.s_addr);
}

// An inviter that the peer filter keeps out hears NO, and the user hears of it
// once; anything else from it is dropped unseen.
void RtpProtocol::refuseFiltered(SessionPort port, const PeerAddress& from, std::span<const std::uint8_t> bytes) {
  SessionPacket packet;
  if (port != SessionPort::Control || !isSessionPacket(bytes) ||
      decodeSessionPacket(bytes, packet) != DecodeError::None)
    return;
  const auto* in = std::get_if<Exchange>(&packet);
  if (!in || in->command != ExchangeCommand::Invitation) return;
  // A throwaway SSRC: the session's would let a stranger forge the peer's packets.
  const Exchange no{ExchangeCommand::Reject, kSessionProtocolVersion, in->token, systemRandom<std::uint32_t>(), {}};
  (void)control_.sendTo(encodeSessionPacket(no), socketAddressOf(from));
  if (refusals_.refused(in->name, from))
    context_.sink.peerNotice(InviterRefused{in->name, from, KeptOut::PeerFilter, peerAddressOf(remotes_.front()), {}});
}

void RtpProtocol::takeSessionPacket(SessionPort port, const PeerAddress& from, std::span<const std::uint8_t> bytes) {
  SessionPacket packet;
  if (const DecodeError e = decodeSessionPacket(bytes, packet); e != DecodeError::None) return dropped(from, e);
  Participant* p = claimant(port, from, packet);
  if (!p) return refuseFull(from, packet);
  p->session.receive(port, from, packet, monotonicMicros());
  if (const auto has = p->session.takePeerFeedback()) sender_.receiverHas(p->lane, *has);
  serviceSessions();
}

void RtpProtocol::takeMidiPacket(const PeerAddress& from, std::span<const std::uint8_t> bytes, std::int64_t arrival) {
  MidiPacket packet;
  if (const DecodeError e = decodeMidiPacket(bytes, packet); e != DecodeError::None) return dropped(from, e);
  const Micros now = monotonicMicros();
  const auto owner = std::find_if(participants_.begin(), participants_.end(),
                                  [&](const auto& p) { return p->session.acceptData(from, packet.header, now); });
  if (owner == participants_.end()) return;
  Participant& p = **owner;
  if (packet.journal) sender_.peerSendsJournals(p.lane);
  // The data makes receiver feedback due: the timer is to wake for it.
  if (const auto next = p.session.nextWakeup(); next && (!armedFor_ || *next < *armedFor_)) armTimer();
  // A packet lost in between takes the rest of a SysEx in progress with it.
  const std::uint64_t lost = p.session.sequences().lost();
  if (lost > p.lostBefore) p.assembler.reset();
  p.lostBefore = lost;
  deliver(p, packet, arrival);
}

// Each message at the time the sender played it: the packet's timestamp plus its
// delta time, in µs on the sender's clock (the low 32 bits, as the link compares them).
// After a gap, the journal's repairs first, at the packet's time: they put this
// side where the sender was before the packet's own commands.
void RtpProtocol::deliver(Participant& p, const MidiPacket& packet, std::int64_t arrival) {
  const JournalRepair::Outcome outcome =
      p.repair.arrived(packet.header.sequence, packet.journal ? &*packet.journal : nullptr);
  for (const midi::MidiEvent& repair : outcome.repairs)
    if (!play(p, repair.view(), packet.header.timestamp, arrival)) return;
  if (!outcome.playCommands) return;
  for (const TimedCommand& command : packet.commands) {
    const std::optional<midi::MidiEvent> whole = p.assembler.push(command.bytes);
    if (!whole) continue;
    p.repair.played(whole->view());
    if (!play(p, whole->view(), packet.header.timestamp + command.offset, arrival)) return;
  }
}

// False when the sink stopped the link (and the participant is gone with it).
bool RtpProtocol::play(Participant& p, midi::MidiEventView event, std::uint32_t ticks, std::int64_t arrival) {
  held_.played(p.lane, event);
  context_.sink.peerEvent(event, static_cast<std::uint32_t>(ticks * std::uint32_t(kMicrosPerTick)), arrival, p.lane);
  return running_;
}

// The link's own note-offs: a later journal then finds those notes ended already
// and sends no second note-off.
void RtpProtocol::heldNotesReleased() {
  held_.forgetAll();
  for (const auto& p : participants_) {
    for (std::uint8_t c = 0; c < 16; ++c)
      for (std::uint8_t n = 0; n < 128; ++n)
        if (p->repair.state().channel(c).notes[n].velocity) {
          const std::uint8_t off[3] = {std::uint8_t(0x80 | c), n, 0};
          p->repair.played(midi::MidiEventView(std::span<const std::uint8_t>(off)));
        }
  }
}

void RtpProtocol::dropped(const PeerAddress& from, DecodeError error) {
  if (const std::uint64_t untold = malformed_.count(monotonicMicros()))
    context_.sink.peerNotice(MalformedDropped{from.host, error, untold});
}

SessionConfig RtpProtocol::sessionConfig(const std::optional<sockaddr_in>& remote) const {
  SessionConfig config;
  config.ssrc = ssrc_;
  config.token = systemRandom<std::uint32_t>();
  config.name = name_;
  if (remote) config.remote = peerAddressOf(*remote);
  config.admits = [&admission = context_.admission](const PeerAddress& from, const std::string& name) {
    return admission.judge(Inviter{from.host, name});
  };
  return config;
}

void RtpProtocol::armTimer() {
  std::optional<Micros> next;
  for (const auto& p : participants_)
    if (const auto due = p->session.nextWakeup(); due && (!next || *due < *next)) next = due;
  armedFor_ = next;
  if (!next) {
    wakeup_.stop();
    return;
  }
  const Micros wait = std::max<Micros>(0, *next - monotonicMicros());
  wakeup_.start(int((wait + 999) / 1000));
}

}  // namespace strandlink::protocol::rtp
