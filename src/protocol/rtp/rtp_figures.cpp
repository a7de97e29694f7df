// The RTP-MIDI link's figures, and the failed sends handed up. The loop's thread.
#include "protocol/rtp/rtp_protocol.h"

#include "protocol/peer_filter.h"

namespace strandlink::protocol::rtp {

namespace {

double milliseconds(std::int64_t ticks) { return double(ticks * kMicrosPerTick) / 1000.0; }

}  // namespace

void RtpProtocol::tick() {
  if (!running_) return;
  const std::uint64_t failures = sender_.failedSends();
  if (failures == reportedSendFailures_) return;
  reportedSendFailures_ = failures;
  context_.sink.peerProblem(SocketFailure{Operation::SendData, sender_.lastError(), true});
}

// Each participant's best clock exchange's round trip and offset and what it sent
// that never came; then what the journals of the packets after the gaps put
// right. While none is in a session, the one session's state alone.
LinkFigures RtpProtocol::figures() {
  LinkFigures f{Measure::Session, {}, WholeLink{}};
  f.link.status = status_;
  f.link.refused = context_.filter.refused();
  const RepairCounts r = repairs();
  f.link.repairs = {r.gaps, r.packetsLost, r.notesEnded, r.valuesRestored};
  for (const auto& p : participants_) {
    const Session& session = p->session;
    const bool up = session.state() == SessionState::Up;
    if (!up && (participants_.size() > 1 || !f.peers.empty())) continue;
    PeerFigures& peer = f.peers.emplace_back();
    peer.name = QString::fromStdString(session.peerName());
    if (const auto data = session.peerDataAddress()) peer.address = socketAddressOf(*data);
    peer.status = session.connected() ? protocol::LinkStatus::Connected : protocol::LinkStatus::NotConnected;
    if (const auto clock = session.clock()) {
      peer.roundTripMs = milliseconds(clock->roundTrip);
      peer.clockOffsetMs = milliseconds(clock->offset);
    }
    peer.packetsLost = session.sequences().lost();
  }
  return f;
}

}  // namespace strandlink::protocol::rtp
