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

QString formatLinkQuality(const LinkQuality::Figures& f, std::uint64_t refused) {
  if (f.answered + f.lost == 0) return QString();
  const QString lost = QStringLiteral("lost %1%").arg(std::lround(f.lossShare() * 100));
  QString text = f.answered == 0 ? QStringLiteral("Link: no answer, %1").arg(lost)
                                 : QStringLiteral("Link: rtt %1 ms (median %2 ms), jitter %3 ms, %4")
                                       .arg(f.lastMs, 0, 'f', 1)
                                       .arg(f.medianMs, 0, 'f', 1)
                                       .arg(f.jitterMs, 0, 'f', 1)
                                       .arg(lost);
  if (refused > 0) text += QStringLiteral(", refused %1").arg(refused);
  return text;
}

QString formatLinkSummary(const LinkQuality::Figures& f, bool connected) {
  if (f.answered + f.lost == 0) return QString();
  const long lost = std::lround(f.lossShare() * 100);
  if (f.answered == 0 || !connected) return QStringLiteral("No answer, %1% lost").arg(lost);
  return QStringLiteral("Round trip %1 ms, %2% lost").arg(f.lastMs, 0, 'f', 1).arg(lost);
}

}  // namespace strandlink::protocol::classic
