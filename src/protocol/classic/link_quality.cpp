#include "protocol/classic/link_quality.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace strandlink::protocol::classic {

void LinkQuality::probeSent(Clock::time_point now) { outstanding_ = now; }

void LinkQuality::replyArrived(Clock::time_point now) {
  if (!outstanding_) return;
  samples_.push_back({now, std::chrono::duration<double, std::milli>(now - *outstanding_).count()});
  outstanding_.reset();
  answeredOnce_ = true;
}

void LinkQuality::tickUnanswered(Clock::time_point now) {
  if (!outstanding_) return;
  // Probes sent before the peer was up say nothing about the link.
  if (answeredOnce_) samples_.push_back({now, std::nullopt});
  outstanding_.reset();
}

LinkQuality::Figures LinkQuality::figures(Clock::time_point now) {
  while (!samples_.empty() && now - samples_.front().at > kWindow) samples_.pop_front();
  Figures f;
  std::vector<double> rtts;
  double change = 0;
  for (const Sample& s : samples_) {
    if (!s.rttMs) {
      ++f.lost;
      continue;
    }
    if (!rtts.empty()) change += std::fabs(*s.rttMs - rtts.back());
    rtts.push_back(*s.rttMs);
  }
  f.answered = int(rtts.size());
  if (rtts.empty()) return f;
  f.lastMs = rtts.back();
  f.jitterMs = rtts.size() > 1 ? change / double(rtts.size() - 1) : 0.0;
  const std::size_t mid = rtts.size() / 2;
  std::nth_element(rtts.begin(), rtts.begin() + long(mid), rtts.end());
  f.medianMs = rtts[mid];
  if (rtts.size() % 2 == 0) f.medianMs = (f.medianMs + *std::max_element(rtts.begin(), rtts.begin() + long(mid))) / 2;
  return f;
}

LinkFigures linkFigures(const LinkQuality::Figures& f, LinkStatus status, std::uint64_t refused) {
  LinkFigures figures{Measure::Probes, {PeerFigures{}}, WholeLink{}};
  figures.link.status = status;
  figures.link.refused = refused;
  PeerFigures& peer = figures.peers.front();
  peer.status = status;
  if (f.answered > 0) peer.roundTripMs = f.lastMs;
  peer.medianRoundTripMs = f.medianMs;
  peer.jitterMs = f.jitterMs;
  peer.probesAnswered = f.answered;
  peer.probesLost = f.lost;
  return figures;
}

}  // namespace strandlink::protocol::classic
