// Which of several sessions on the same ports a session packet belongs to, and
// the doubt an invitation under a linked peer's name raises.
#include <algorithm>

#include "protocol/rtp/session.h"

namespace strandlink::protocol::rtp {

bool Session::claims(SessionPort port, const PeerAddress& from, const SessionPacket& packet) const {
  if (!engaged()) return false;
  if (fromPeer(from) || fromRemote(from)) return true;
  const auto isFrom = [&](const Peer& p) { return from == p.control || (p.data && from == *p.data); };
  if (candidate_ && isFrom(candidate_->peer)) return true;
  const auto* in = std::get_if<Exchange>(&packet);
  if (!in || in->command != ExchangeCommand::Invitation) return false;
  // The data port's invitation comes from a port not yet known: its SSRC and
  // token name the handshake.
  const auto invitedBy = [&](const Peer& p) {
    return in->ssrc == p.ssrc && in->token == p.token && from.host == p.control.host;
  };
  return port == SessionPort::Data && ((peer_ && invitedBy(*peer_)) || (candidate_ && invitedBy(candidate_->peer)));
}

bool Session::restartedBy(const PeerAddress& from, const SessionPacket& packet) const {
  const auto* in = std::get_if<Exchange>(&packet);
  return in && in->command == ExchangeCommand::Invitation && state_ == SessionState::Up &&
         restartedElsewhere(from, *in);
}

void Session::doubtPeer(Micros now) {
  if (state_ != SessionState::Up || hurried_) return;
  hurried_ = doubted_ = true;
  hurriedAt_ = now;
  asked_ = 0;
  lastHeard_ = std::min(lastHeard_, now - kQuietBeforeAsking);
}

}  // namespace strandlink::protocol::rtp
