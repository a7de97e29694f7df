// How good the link is, from the once-a-second probes: the round-trip time of
// each probe answered within its tick, and the probes left unanswered since the
// first answer, over the last minute. The loop's thread only.
#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

namespace strandlink::protocol::classic {

class LinkQuality {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kWindow{60};

  struct Figures {
    int answered = 0;
    int lost = 0;
    double lastMs = 0;    // the latest answered probe
    double medianMs = 0;  // over the answered probes in the window
    double jitterMs = 0;  // mean change between consecutive round trips
    double lossShare() const { return answered + lost == 0 ? 0.0 : double(lost) / (answered + lost); }
  };

  void probeSent(Clock::time_point now);
  // A reply answers the outstanding probe, if any; a late or stray one is not timed.
  void replyArrived(Clock::time_point now);
  // The tick found the outstanding probe unanswered.
  void tickUnanswered(Clock::time_point now);
  Figures figures(Clock::time_point now);
  void clear() { *this = LinkQuality{}; }

 private:
  struct Sample {
    Clock::time_point at;
    std::optional<double> rttMs;  // none: lost
  };
  std::deque<Sample> samples_;
  std::optional<Clock::time_point> outstanding_;
  bool answeredOnce_ = false;  // losses count from the first reply on
};

// "Link: rtt 0.4 ms (median 0.5 ms), jitter 0.1 ms, lost 0%", with the refused
// datagrams appended when there are any; empty before the first probe is settled.
QString formatLinkQuality(const LinkQuality::Figures& f, std::uint64_t refused);
// The two figures that matter on stage, short enough for a line of the window:
// "Round trip 0.4 ms, 0% lost"; "No answer, 100% lost" while not connected,
// when the last round trip is past; empty as above.
QString formatLinkSummary(const LinkQuality::Figures& f, bool connected);

}  // namespace strandlink::protocol::classic
