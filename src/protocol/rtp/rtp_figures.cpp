// The RTP-MIDI link's figures for the window and the statistics, and the report
// of failed sends. The loop's thread.
#include "protocol/rtp/rtp_protocol.h"

#include "protocol/peer_filter.h"
#include "report/reporter.h"

namespace strandlink::protocol::rtp {

namespace {

QString milliseconds(std::int64_t ticks) { return QString::number(double(ticks * kMicrosPerTick) / 1000.0, 'f', 1); }

}  // namespace

void RtpProtocol::tick() {
  if (!session_) return;
  const std::uint64_t failures = sender_.failedSends();
  if (failures == reportedSendFailures_) return;
  reportedSendFailures_ = failures;
  context_.reporter.socketError(sender_.lastError(), QStringLiteral("Tried to send RTP-MIDI data:  "),
                                report::Reporter::Flood::Throttle);
}

// "Link: rtt 0.4 ms, clock offset -12.5 ms, lost 0 packets; repaired 0 gaps (0
// packets lost), 0 notes ended, 0 values restored": the best clock
// exchange's round trip and offset, and what the peer sent that never came; then
// what the journals of the packets after the gaps put right.
QString RtpProtocol::figuresText() {
  if (!session_ || !session_->clock()) return {};
  const SyncSample clock = *session_->clock();
  QString text = QStringLiteral("Link: rtt %1 ms, clock offset %2 ms, lost %3 packets")
                     .arg(milliseconds(clock.roundTrip), milliseconds(clock.offset))
                     .arg(session_->sequences().lost());
  if (context_.filter.refused() > 0) text += QStringLiteral(", refused %1").arg(context_.filter.refused());
  const RepairCounts& r = repair_.counts();
  text += QStringLiteral("; repaired %1 gaps (%2 packets lost), %3 notes ended, %4 values restored")
              .arg(r.gaps)
              .arg(r.packetsLost)
              .arg(r.notesEnded)
              .arg(r.valuesRestored);
  return text;
}

// "Round trip 0.4 ms, 0 packets lost"; "No session, ..." while not connected.
QString RtpProtocol::figuresSummary() {
  if (!session_ || !session_->clock()) return {};
  const std::uint64_t lost = session_->sequences().lost();
  if (status_ != protocol::LinkStatus::Connected) return QStringLiteral("No session, %1 packets lost").arg(lost);
  return QStringLiteral("Round trip %1 ms, %2 packets lost").arg(milliseconds(session_->clock()->roundTrip)).arg(lost);
}

}  // namespace strandlink::protocol::rtp
