// The participants of an RTP-MIDI link: who takes each session packet, the
// listener that waits for the next newcomer, and what is handed up as each one
// comes and goes. The loop's thread.
#include "protocol/rtp/rtp_protocol.h"

#include <algorithm>

#include "base/monotonic_clock.h"
#include "net/socket_errors.h"
#include "protocol/admission.h"
#include "protocol/rtp/session_packet.h"
#include "protocol/rtp/system_random.h"

namespace strandlink::protocol::rtp {

namespace {

void add(RepairCounts& to, const RepairCounts& r) {
  to.gaps += r.gaps;
  to.packetsLost += r.packetsLost;
  to.notesEnded += r.notesEnded;
  to.lateNotes += r.lateNotes;
  to.valuesRestored += r.valuesRestored;
  to.unrepaired += r.unrepaired;
  to.unbelieved += r.unbelieved;
}

}  // namespace

RtpProtocol::Participant* RtpProtocol::addParticipant(const std::optional<sockaddr_in>& remote) {
  const auto free = std::find(laneUsed_.begin(), laneUsed_.end(), false);
  if (free == laneUsed_.end()) return nullptr;
  *free = true;
  const auto lane = std::size_t(free - laneUsed_.begin());
  sender_.setPeer(lane, std::nullopt);
  sender_.freshLane(lane);
  Participant& p = *participants_.emplace_back(std::make_unique<Participant>(sessionConfig(remote), lane));
  p.session.start(monotonicMicros());
  return &p;
}

// Invited, a copy always has one session free for the next newcomer while there
// is room; the sessions that fell are let go, save one.
void RtpProtocol::keepListener() {
  if (!remotes_.empty()) return;
  const bool listening =
      std::any_of(participants_.begin(), participants_.end(), [](const auto& p) { return !p->session.engaged(); });
  if (!listening) addParticipant();
}

void RtpProtocol::dropIdle() {
  if (!remotes_.empty()) return;
  bool kept = false;
  std::erase_if(participants_, [&](const std::unique_ptr<Participant>& p) {
    if (p->session.engaged() || !std::exchange(kept, true)) return false;
    sender_.setPeer(p->lane, std::nullopt);
    laneUsed_[p->lane] = false;
    add(retiredRepairs_, p->repair.counts());
    return true;
  });
}

// The session a packet belongs to; else the listener, for a newcomer; with every
// place taken, a half-open handshake, which a newcomer may replace as before.
RtpProtocol::Participant* RtpProtocol::claimant(SessionPort port, const PeerAddress& from,
                                                const SessionPacket& packet) {
  for (const auto& p : participants_)
    if (p->session.claims(port, from, packet)) return p.get();
  const auto listener =
      std::find_if(participants_.begin(), participants_.end(), [](const auto& p) { return !p->session.engaged(); });
  for (const auto& p : participants_) {
    if (!p->session.restartedBy(from, packet)) continue;
    if (listener == participants_.end()) return p.get();  // no room: the old way, a candidate
    p->session.doubtPeer(monotonicMicros());
    break;
  }
  if (listener != participants_.end()) return listener->get();
  if (!remotes_.empty()) return participants_.front().get();  // which refuses it: not a remote
  for (const auto& p : participants_)
    if (p->session.state() == SessionState::AwaitingData) return p.get();
  return nullptr;
}

// The seventeenth inviter hears NO, with a throwaway SSRC as every NO to a stranger.
void RtpProtocol::refuseFull(const PeerAddress& from, const SessionPacket& packet) {
  const auto* in = std::get_if<Exchange>(&packet);
  if (!in || in->command != ExchangeCommand::Invitation) return;
  const Exchange no{ExchangeCommand::Reject, kSessionProtocolVersion, in->token, systemRandom<std::uint32_t>(), {}};
  (void)control_.sendTo(encodeSessionPacket(no), socketAddressOf(from));
  if (refusals_.refused(in->name, from))
    context_.sink.peerNotice(InviterRefused{in->name, from, KeptOut::Full, {}, {}});
}

void RtpProtocol::tickSessions() {
  if (!running_) return;
  const Micros now = monotonicMicros();
  for (const auto& p : participants_) p->session.tick(now);
  serviceSessions();
}

void RtpProtocol::serviceSessions() {
  for (std::size_t i = 0; i < participants_.size(); ++i) {
    Participant& p = *participants_[i];
    sendSessionPackets(p.session);
    if (!takeSessionEvents(p)) return;
    const auto data = p.session.peerDataAddress();
    sender_.setPeer(p.lane, data ? std::optional(socketAddressOf(*data)) : std::nullopt);
    if (p.session.clock() != p.shownClock) {
      p.shownClock = p.session.clock();
      context_.sink.peerFiguresChanged();
      if (!running_) return;
    }
  }
  dropIdle();
  keepListener();
  armTimer();
  // Last: the link may act on it at once (release held notes, even stop).
  handUpStatus();
}

void RtpProtocol::sendSessionPackets(Session& session) {
  for (const Outgoing& out : session.takeOutgoing()) {
    const net::UdpSocket& socket = out.from == SessionPort::Control ? control_ : data_;
    const net::Transfer sent = socket.sendTo(encodeSessionPacket(out.packet), socketAddressOf(out.to));
    if (!sent.ok() && !net::isUnreachableEcho(sent.error))
      context_.sink.peerProblem(SocketFailure{Operation::SendSessionPacket, sent.error, true});
  }
}

// "Connected" while any participant is; a change in how many is handed up too,
// for the status line that counts them. False when the link stopped.
bool RtpProtocol::handUpStatus() {
  const std::size_t linked = participantsLinked();
  const auto now = linked ? protocol::LinkStatus::Connected : protocol::LinkStatus::NotConnected;
  if (now == status_ && linked == linkedShown_) return true;
  status_ = now;
  linkedShown_ = linked;
  context_.sink.peerStatus(now);
  return running_;
}

// False when a notice stopped the link.
bool RtpProtocol::takeSessionEvents(Participant& p) {
  for (const SessionEvent& event : p.session.takeEvents()) {
    std::optional<PeerNotice> notice;
    switch (event.kind) {
      case SessionEventKind::Up:
        if (!participantUp(p)) return false;
        continue;
      case SessionEventKind::Synced: break;
      case SessionEventKind::Down:
        if (!participantDown(p, event)) return false;
        continue;
      case SessionEventKind::RefusedInviter:
        if (refusals_.refused(event.inviterName, event.inviter)) notice = refusalOf(p, event);
        break;
      case SessionEventKind::InviterWaits:
        if (context_.admission.ask(Inviter{event.inviter.host, event.inviterName}))
          notice = InviterAsks{event.inviterName, event.inviter};
        break;
      case SessionEventKind::Refused:
        // Once until a session comes up: the invitation is repeated every 5 s.
        if (!std::exchange(p.refusalSaid, true)) notice = InvitationRefused{};
        break;
    }
    if (!notice) continue;
    context_.sink.peerNotice(*notice);
    if (!running_) return false;
  }
  return true;
}

bool RtpProtocol::participantUp(Participant& p) {
  p.refusalSaid = false;
  sender_.newPeer(p.lane);
  p.assembler.reset();
  p.repair.restart();  // a peer's new session numbers its packets afresh
  held_.forget(p.lane);
  p.lostBefore = p.session.sequences().lost();
  p.peerName = p.session.peerName();
  context_.sink.peerNotice(SessionUp{p.peerName});
  return running_;
}

// What the participant left sounding goes with it, save what another still holds.
// The last one's fall is the link's: it releases everything. A restarted peer's
// new session may be up within the same call: the link still hears of the fall.
bool RtpProtocol::participantDown(Participant& p, const SessionEvent& event) {
  p.assembler.reset();
  context_.sink.peerNotice(SessionEnded{event.reason, std::exchange(p.peerName, {})});
  if (!running_) return false;
  const midi::HeldSet gone = held_.leave(p.lane);
  if (status_ == protocol::LinkStatus::Connected && participantsLinked() == 0) {
    status_ = protocol::LinkStatus::NotConnected;
    linkedShown_ = 0;
    context_.sink.peerStatus(status_);
  } else if (!gone.empty()) {
    context_.sink.peerMemberGone(gone);
  }
  return running_;
}

InviterRefused RtpProtocol::refusalOf(const Participant& p, const SessionEvent& event) const {
  InviterRefused told{event.inviterName, event.inviter, KeptOut::NotAdmitted, {}, {}};
  switch (event.refusal) {
    case Refusal::OnlyRemote:
      told.keptOut = KeptOut::OnlyRemote;
      told.remote = p.session.remote().value_or(PeerAddress{});
      break;
    case Refusal::Busy:
      told.keptOut = KeptOut::Busy;
      told.sessionPeer = p.session.peerName();
      break;
    case Refusal::NotAdmitted:
      told.keptOut = keptOutBy(context_.admission, Inviter{event.inviter.host, event.inviterName});
      break;
    case Refusal::None: break;
  }
  return told;
}

const Session* RtpProtocol::session() const {
  for (const auto& p : participants_)
    if (p->session.engaged()) return &p->session;
  return participants_.empty() ? nullptr : &participants_.front()->session;
}

std::size_t RtpProtocol::participantsLinked() const {
  return std::size_t(
      std::count_if(participants_.begin(), participants_.end(), [](const auto& p) { return p->session.connected(); }));
}

RepairCounts RtpProtocol::repairs() const {
  RepairCounts all = retiredRepairs_;
  for (const auto& p : participants_) add(all, p->repair.counts());
  return all;
}

}  // namespace strandlink::protocol::rtp
