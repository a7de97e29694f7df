#include "protocol/rtp/session.h"

#include <algorithm>

#include "protocol/rtp/system_random.h"

namespace strandlink::protocol::rtp {

namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

PeerAddress dataPortOf(const PeerAddress& control) {
  return {control.host, static_cast<std::uint16_t>(control.port + 1)};
}

}  // namespace

Session::Session(SessionConfig config) : config_(std::move(config)), nextToken_(config_.token) {}

void Session::start(Micros now) {
  if (state_ != SessionState::Stopped) return;
  state_ = SessionState::Listening;
  if (config_.remote) beginInviting(now);
}

// Apple's peers take BY on the control port; rtpmidid ends a session only once it
// has one on each port, so it goes to both that the peer knows.
void Session::stop() {
  if (peer_ && state_ != SessionState::InvitingControl) {
    const Exchange bye = exchange(ExchangeCommand::End, peer_->token);
    send(SessionPort::Control, peer_->control, bye);
    if (state_ == SessionState::Up && peer_->data) send(SessionPort::Data, *peer_->data, bye);
  }
  sessionDown(DownReason::Stopped);
  state_ = SessionState::Stopped;
}

void Session::receive(SessionPort port, const PeerAddress& from, const SessionPacket& packet, Micros now) {
  if (state_ == SessionState::Stopped) return;
  std::visit(Overloaded{
                 [&](const Exchange& p) {
                   switch (p.command) {
                     case ExchangeCommand::Invitation: return onInvitation(port, from, p, now);
                     case ExchangeCommand::Accept: return onAccept(port, from, p, now);
                     case ExchangeCommand::Reject: return onReject(from, p, now);
                     case ExchangeCommand::End: return onEnd(port, from, p, now);
                   }
                 },
                 [&](const ClockSync& p) { onClockSync(port, from, p, now); },
                 [&](const ReceiverFeedback& p) {
                   // It moves our journal's checkpoint, and shows the peer is alive.
                   if (state_ != SessionState::Up || !fromPeerTo(port, from) || p.ssrc != peer_->ssrc) return;
                   heard(now);
                   peerHas_ = p.sequence;
                 },
             },
             packet);
}

bool Session::acceptData(const PeerAddress& from, const RtpHeader& header, Micros now) {
  if (state_ != SessionState::Up || header.ssrc != peer_->ssrc || !fromPeerTo(SessionPort::Data, from)) return false;
  if (!sequences_.received(header.sequence)) return false;
  heard(now);
  feedbackPending_ = true;
  return true;
}

void Session::tick(Micros now) {
  switch (state_) {
    case SessionState::InvitingControl:
    case SessionState::InvitingData:
      if (now >= nextInvitation_) sendInvitation(now);
      break;
    case SessionState::AwaitingData:
      // The inviter never came to the data port: free the session for others.
      if (now - handshakeBegan_ < kHandshakeLimit) break;
      sessionDown(DownReason::TimedOut);
      if (config_.remote) beginInviting(now);
      break;
    case SessionState::Up: tickUp(now); break;
    case SessionState::Stopped:
    case SessionState::Listening: break;
  }
}

void Session::tickUp(Micros now) {
  if (candidate_ && now - candidate_->began >= kHandshakeLimit) candidate_.reset();
  if (peerGone(now)) {
    sessionDown(doubted_ ? DownReason::PeerRestarted : DownReason::TimedOut);
    if (config_.remote) beginInviting(now);
    return;
  }
  if (role_ == SessionRole::Initiator && schedule_.due(now)) startExchange(now);
  if (role_ == SessionRole::Responder && now - lastPeerSync_ >= responderSyncWait()) {
    lastPeerSync_ = now;
    startExchange(now);
  }
  if (now >= askTime()) startExchange(now);
  if (feedbackPending_ && now >= nextFeedback_) {
    send(SessionPort::Control, peer_->control, ReceiverFeedback{config_.ssrc, *sequences_.highest()});
    feedbackPending_ = false;
    nextFeedback_ = now + kFeedbackInterval;
  }
}

std::optional<Micros> Session::nextWakeup() const {
  switch (state_) {
    case SessionState::InvitingControl:
    case SessionState::InvitingData: return nextInvitation_;
    case SessionState::AwaitingData: return handshakeBegan_ + kHandshakeLimit;
    case SessionState::Up: {
      Micros next = askTime();
      if (role_ == SessionRole::Initiator && schedule_.next()) next = std::min(next, *schedule_.next());
      if (role_ == SessionRole::Responder) next = std::min(next, lastPeerSync_ + responderSyncWait());
      if (feedbackPending_) next = std::min(next, nextFeedback_);
      return next;
    }
    case SessionState::Stopped:
    case SessionState::Listening: break;
  }
  return std::nullopt;
}

std::optional<PeerAddress> Session::peerDataAddress() const {
  if (state_ != SessionState::Up) return std::nullopt;
  return peer_->data;
}

// --- invitations -----------------------------------------------------------

void Session::beginInviting(Micros now) {
  role_ = SessionRole::Initiator;
  state_ = SessionState::InvitingControl;
  peer_ = Peer{*config_.remote, dataPortOf(*config_.remote), 0, nextToken_++, {}};
  invitationsSent_ = 0;
  sendInvitation(now);
}

void Session::sendInvitation(Micros now) {
  const bool data = state_ == SessionState::InvitingData;
  send(data ? SessionPort::Data : SessionPort::Control, data ? *peer_->data : *config_.remote,
       exchange(ExchangeCommand::Invitation, peer_->token));
  ++invitationsSent_;
  nextInvitation_ = now + (invitationsSent_ <= kFastInviteRetries ? kInviteRetryFast : kInviteRetrySlow);
}

void Session::onInvitation(SessionPort port, const PeerAddress& from, const Exchange& in, Micros now) {
  if (port == SessionPort::Data) return onDataInvitation(from, in, now);
  const bool inviting = state_ == SessionState::InvitingControl || state_ == SessionState::InvitingData;
  if (inviting && fromRemote(from)) {
    if (!winsGlare(in)) return acceptInvitation(from, in, now);
    // The peer is to accept ours and stop inviting. It is evidently there now, so
    // ours goes again at once rather than at the next retry (our first may have
    // found its port not yet open). If it had accepted our control invitation
    // already, it has since given up on it: begin again.
    state_ = SessionState::InvitingControl;
    sendInvitation(now);
    return;
  }
  if (state_ == SessionState::AwaitingData) {
    // Our OK went missing: say it again, but the handshake's limit stands.
    if (fromPeer(from) && in.ssrc == peer_->ssrc && in.token == peer_->token)
      return send(SessionPort::Control, from, exchange(ExchangeCommand::Accept, in.token));
    // Nothing is playing yet: another inviter is not kept waiting by a half-open one.
    if (!admitted(from, in.name)) return turnAway(from, in);
    sessionDown(DownReason::PeerRestarted);
    return acceptInvitation(from, in, now);
  }
  if (state_ == SessionState::Up) {
    // A late copy of the invitation we outranked in a glare: the session stands.
    if (fromPeer(from) && role_ == SessionRole::Initiator && in.ssrc == peer_->ssrc) return;
    if (replacesSession(from, in)) return takeCandidate(from, in, now);
    if (fromPeer(from)) return send(SessionPort::Control, from, exchange(ExchangeCommand::Accept, in.token));
  }
  if (state_ == SessionState::Up || inviting) return refuse(from, in);
  if (!admitted(from, in.name)) return turnAway(from, in);
  acceptInvitation(from, in, now);
}

// An inviter the user is yet to be asked about hears nothing: it invites again,
// and the retry that follows the user's answer gets it.
void Session::turnAway(const PeerAddress& from, const Exchange& in) {
  if (verdictOn(from, in.name) != Verdict::Ask) return refuse(from, in);
  SessionEvent waits(SessionEventKind::InviterWaits);
  waits.inviterName = in.name;
  waits.inviter = from;
  events_.push_back(std::move(waits));
}

// A new SSRC is a new run of the peer; a new token, a peer that gave up on us.
bool Session::replacesSession(const PeerAddress& from, const Exchange& in) const {
  if (restartedElsewhere(from, in)) return true;
  return fromPeer(from) && (in.ssrc != peer_->ssrc || in.token != peer_->token);
}

// The candidate's handshake runs beside the live session, which plays on.
void Session::takeCandidate(const PeerAddress& from, const Exchange& in, Micros now) {
  candidate_ = Candidate{Peer{from, std::nullopt, in.ssrc, in.token, in.name}, now, 0, {}, {}};
  candidate_->challenge = systemRandom<std::uint64_t>();
  send(SessionPort::Control, from, exchange(ExchangeCommand::Accept, in.token));
}

void Session::refuse(const PeerAddress& from, const Exchange& in) {
  send(SessionPort::Control, from, exchange(ExchangeCommand::Reject, in.token));
  SessionEvent refused(SessionEventKind::RefusedInviter);
  refused.refusal = Refusal::Busy;
  refused.inviterName = in.name;
  refused.inviter = from;
  if (config_.remote && !fromRemote(from)) refused.refusal = Refusal::OnlyRemote;
  else if (!admitted(from, in.name)) refused.refusal = Refusal::NotAdmitted;
  events_.push_back(std::move(refused));
}

// The peer's program started again, on another port of the same host (a client
// binds new ports each run): same name, new SSRC.
bool Session::restartedElsewhere(const PeerAddress& from, const Exchange& in) const {
  return peer_ && !fromPeer(from) && from.host == peer_->control.host && in.name == peer_->name &&
         in.ssrc != peer_->ssrc && admitted(from, in.name);
}

void Session::acceptInvitation(const PeerAddress& from, const Exchange& in, Micros now) {
  role_ = SessionRole::Responder;
  state_ = SessionState::AwaitingData;
  peer_ = Peer{from, std::nullopt, in.ssrc, in.token, in.name};
  lastHeard_ = now;
  handshakeBegan_ = now;
  send(SessionPort::Control, from, exchange(ExchangeCommand::Accept, in.token));
}

void Session::onDataInvitation(const PeerAddress& from, const Exchange& in, Micros now) {
  const auto invitedBy = [&](const Peer& p) {
    return in.ssrc == p.ssrc && in.token == p.token && from.host == p.control.host;
  };
  if (candidate_ && state_ == SessionState::Up && invitedBy(candidate_->peer) &&
      (!candidate_->peer.data || *candidate_->peer.data == from)) {
    candidate_->peer.data = from;
    send(SessionPort::Data, from, exchange(ExchangeCommand::Accept, in.token));
    return challengeCandidate();
  }
  const bool ours = peer_ && role_ == SessionRole::Responder && invitedBy(*peer_) &&
                    (state_ == SessionState::AwaitingData || *peer_->data == from);
  if (!ours || (state_ != SessionState::AwaitingData && state_ != SessionState::Up)) {
    send(SessionPort::Data, from, exchange(ExchangeCommand::Reject, in.token));
    return;
  }
  peer_->data = from;
  send(SessionPort::Data, from, exchange(ExchangeCommand::Accept, in.token));
  if (state_ == SessionState::AwaitingData) sessionUp(now);
}

void Session::onAccept(SessionPort port, const PeerAddress& from, const Exchange& ok, Micros now) {
  if (!peer_ || role_ != SessionRole::Initiator || ok.token != peer_->token || !fromRemote(from)) return;
  if (port == SessionPort::Control && state_ == SessionState::InvitingControl) {
    peer_->control = from;
    peer_->ssrc = ok.ssrc;
    peer_->name = ok.name;
    state_ = SessionState::InvitingData;
    sendInvitation(now);
  } else if (port == SessionPort::Data && state_ == SessionState::InvitingData && ok.ssrc == peer_->ssrc) {
    peer_->data = from;
    sessionUp(now);
  }
}

void Session::onReject(const PeerAddress& from, const Exchange& no, Micros now) {
  const bool inviting = state_ == SessionState::InvitingControl || state_ == SessionState::InvitingData;
  if (!inviting || no.token != peer_->token || !fromRemote(from)) return;
  events_.push_back({SessionEventKind::Refused, DownReason::None});
  // Keep asking, slowly: the peer may let us in once its user allows it.
  state_ = SessionState::InvitingControl;
  invitationsSent_ = std::max(invitationsSent_, kFastInviteRetries + 1);
  nextInvitation_ = now + kInviteRetrySlow;
}

// A BY names the sender's SSRC and the session's token.
void Session::onEnd(SessionPort port, const PeerAddress& from, const Exchange& bye, Micros now) {
  const bool engaged = state_ == SessionState::Up || state_ == SessionState::AwaitingData ||
                       state_ == SessionState::InvitingData;
  if (!engaged || !fromPeerTo(port, from)) return;
  if (bye.ssrc != peer_->ssrc || bye.token != peer_->token) {
    // Not believed, but worth a question: the peer's answer keeps the session.
    // At most one hurried round a second, so that a flood of them asks no more.
    if (state_ == SessionState::Up && !hurried_ && now - hurriedAt_ >= kAnswerWait) {
      hurried_ = true;
      hurriedAt_ = now;
      asked_ = 0;
      lastHeard_ = std::min(lastHeard_, now - kQuietBeforeAsking);
    }
    return;
  }
  sessionDown(DownReason::PeerLeft);
  if (config_.remote) beginInviting(now);  // straight back in when it returns
}

// --- up and down -------------------------------------------------------------

void Session::sessionUp(Micros now) {
  state_ = SessionState::Up;
  heard(now);
  synced_ = false;
  feedbackPending_ = false;
  openExchange_.reset();
  estimate_.reset();
  sequences_.restart();
  events_.push_back({SessionEventKind::Up, DownReason::None});
  if (role_ == SessionRole::Initiator) {
    schedule_.begin(now);
    startExchange(now);
  } else {
    lastPeerSync_ = now;  // the inviter is to begin the sync; give it a moment
  }
}

void Session::sessionDown(DownReason reason) {
  if (state_ == SessionState::Up) events_.push_back({SessionEventKind::Down, reason});
  state_ = SessionState::Listening;
  role_ = SessionRole::None;
  peer_.reset();
  candidate_.reset();
  synced_ = false;
  doubted_ = false;
  feedbackPending_ = false;
  openExchange_.reset();
  schedule_.halt();
}

// --- helpers -----------------------------------------------------------------

bool Session::fromPeer(const PeerAddress& from) const {
  return peer_ && (from == peer_->control || (peer_->data && from == *peer_->data));
}

bool Session::fromPeerTo(SessionPort port, const PeerAddress& from) const {
  if (!peer_) return false;
  return port == SessionPort::Control ? from == peer_->control : peer_->data && from == *peer_->data;
}

std::uint32_t Session::strangerSsrc() {
  std::uint32_t ssrc = 0;
  while (ssrc == 0 || ssrc == config_.ssrc) ssrc = systemRandom<std::uint32_t>();
  return ssrc;
}

// Some peers send their control traffic from the data port: either will do.
bool Session::fromRemote(const PeerAddress& from) const {
  const auto& remote = config_.remote;
  return remote && from.host == remote->host && (from.port == remote->port || from.port == remote->port + 1);
}

Verdict Session::verdictOn(const PeerAddress& from, const std::string& name) const {
  if (config_.remote) return fromRemote(from) ? Verdict::Admit : Verdict::Refuse;
  return config_.admits ? config_.admits(from, name) : Verdict::Admit;
}

// Both invited each other at once: the lower SSRC (then token) keeps inviting.
bool Session::winsGlare(const Exchange& theirs) const {
  if (config_.ssrc != theirs.ssrc) return config_.ssrc < theirs.ssrc;
  return peer_->token < theirs.token;
}

// A NO goes to anyone who asks, so it names no SSRC a forger could use.
Exchange Session::exchange(ExchangeCommand command, std::uint32_t token) {
  const std::uint32_t ssrc = command == ExchangeCommand::Reject ? strangerSsrc() : config_.ssrc;
  return Exchange{command, kSessionProtocolVersion, token, ssrc,
                  command == ExchangeCommand::End ? std::string{} : config_.name};
}

void Session::send(SessionPort port, const PeerAddress& to, SessionPacket packet) {
  outgoing_.push_back({port, to, std::move(packet)});
}

}  // namespace strandlink::protocol::rtp
