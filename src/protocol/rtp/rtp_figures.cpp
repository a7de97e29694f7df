// The RTP-MIDI link's figures, and the failed sends handed up. The loop's thread.
#include "protocol/rtp/rtp_protocol.h"

#include "protocol/peer_filter.h"

namespace strandlink::protocol::rtp {

namespace {

double milliseconds(std::int64_t ticks) { return double(ticks * kMicrosPerTick) / 1000.0; }

}  // namespace

void RtpProtocol::tick() {
  if (!session_) return;
  const std::uint64_t failures = sender_.failedSends();
  if (failures == reportedSendFailures_) return;
  reportedSendFailures_ = failures;
  context_.sink.peerProblem(SocketFailure{Operation::SendData, sender_.lastError(), true});
}

// The best clock exchange's round trip and offset and what the peer sent that
// never came; then what the journals of the packets after the gaps put right.
LinkFigures RtpProtocol::figures() {
  LinkFigures f{Measure::Session, {}, WholeLink{}};
  f.link.status = status_;
  f.link.refused = context_.filter.refused();
  const RepairCounts& r = repair_.counts();
  f.link.repairs = {r.gaps, r.packetsLost, r.notesEnded, r.valuesRestored};
  if (!session_) return f;
  PeerFigures& peer = f.peers.emplace_back();
  peer.name = QString::fromStdString(session_->peerName());
  if (const auto data = session_->peerDataAddress()) peer.address = socketAddressOf(*data);
  peer.status = status_;
  if (const auto clock = session_->clock()) {
    peer.roundTripMs = milliseconds(clock->roundTrip);
    peer.clockOffsetMs = milliseconds(clock->offset);
  }
  peer.packetsLost = session_->sequences().lost();
  return f;
}

}  // namespace strandlink::protocol::rtp
