// The clock sync half of the session: answering the peer's exchanges, starting our
// own, and learning the offset from both.
#include "protocol/rtp/session.h"

#include <algorithm>

namespace strandlink::protocol::rtp {

void Session::onClockSync(SessionPort port, const PeerAddress& from, const ClockSync& ck, Micros now) {
  if (candidate_ && candidate_->peer.data == from && ck.ssrc == candidate_->peer.ssrc)
    return onCandidateSync(port, from, ck, now);
  if (!fromPeerTo(port, from) || state_ != SessionState::Up) {
    // A peer that still syncs with a session this side no longer has (it restarted,
    // or gave up on the silence): BY tells it to invite afresh, instead of waiting.
    // Anyone may ask, so it names no SSRC of ours.
    if (ck.count == 0) {
      Exchange bye = exchange(ExchangeCommand::End, 0);
      bye.ssrc = strangerSsrc();
      send(port, from, bye);
    }
    return;
  }
  if (ck.ssrc != peer_->ssrc) return;
  heard(now);
  const std::uint64_t t = toSyncTicks(now);
  switch (ck.count) {
    case 0:
      lastPeerSync_ = now;
      send(port, from, ClockSync{config_.ssrc, 1, {ck.timestamps[0], t, 0}});
      break;
    case 1:
      if (openExchange_ && ck.timestamps[0] == *openExchange_) {
        const ClockSync closing{config_.ssrc, 2, {ck.timestamps[0], ck.timestamps[1], t}};
        send(port, from, closing);
        openExchange_.reset();
        addSample(sampleFromOwnExchange(closing));
      }
      break;
    default:  // the peer closed its exchange: learn from it, answer nothing
      addSample(sampleFromPeerExchange(ck));
      break;
  }
}

// The candidate's inviter syncs at once, and is asked to answer a sync of ours
// whose time is random: our clock is no secret, but that number is. Its answer
// makes it the session; its own exchange gives the clock. Ours is left open, as
// closing it would hand the peer a sample of a made-up time.
void Session::onCandidateSync(SessionPort port, const PeerAddress& from, const ClockSync& ck, Micros now) {
  switch (ck.count) {
    case 0:
      candidate_->answered = toSyncTicks(now);
      send(port, from, ClockSync{config_.ssrc, 1, {ck.timestamps[0], *candidate_->answered, 0}});
      return challengeCandidate();  // in case ours was lost, or came before its session
    case 1: break;
    default:
      if (candidate_->answered == ck.timestamps[1]) candidate_->sample = sampleFromPeerExchange(ck);
      return;
  }
  if (ck.timestamps[0] != candidate_->challenge) return;
  const Candidate next = *candidate_;
  sessionDown(DownReason::PeerRestarted);
  role_ = SessionRole::Responder;
  peer_ = next.peer;
  sessionUp(now);
  lastPeerSync_ = now;
  addSample(next.sample);
}

void Session::challengeCandidate() {
  send(SessionPort::Data, *candidate_->peer.data, ClockSync{config_.ssrc, 0, {candidate_->challenge, 0, 0}});
}

void Session::startExchange(Micros now) {
  ++asked_;
  lastAsked_ = now;
  openExchange_ = toSyncTicks(now);
  send(SessionPort::Data, *peer_->data, ClockSync{config_.ssrc, 0, {*openExchange_, 0, 0}});
  if (role_ == SessionRole::Initiator) schedule_.exchangeStarted(now, synced_);
}

void Session::addSample(std::optional<SyncSample> sample) {
  if (!sample) return;
  estimate_.add(*sample);
  if (synced_) return;
  synced_ = true;
  events_.push_back({SessionEventKind::Synced, DownReason::None});
}

void Session::heard(Micros now) {
  lastHeard_ = now;
  asked_ = 0;
  hurried_ = doubted_ = false;
}

// When to ask the quiet peer with a clock sync: after a quiet moment, and then
// again while the last ask went unanswered; past the limit, when it is gone.
Micros Session::askTime() const {
  const Micros quiet = lastHeard_ + kQuietBeforeAsking;
  return asked_ == 0 ? quiet : std::max(quiet, lastAsked_ + (hurried_ ? kHurriedAnswerWait : kAnswerWait));
}

bool Session::peerGone(Micros now) const { return asked_ >= kUnansweredLimit && now >= askTime(); }

// Until this side has a clock estimate of its own (the peer's closing packets may
// all be lost), it asks for one soon; afterwards only when the peer falls silent.
Micros Session::responderSyncWait() const { return synced_ ? kResponderSyncProbe : kResponderFirstSync; }

}  // namespace strandlink::protocol::rtp
