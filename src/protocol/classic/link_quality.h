// How good the link is, from the once-a-second probes: the round-trip time of
// each probe answered within its tick, and the probes left unanswered since the
// first answer, over the last minute. The loop's thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

#include "protocol/link_figures.h"

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

// The figures as the link words them: the one peer's, at the status given, and
// the datagrams the peer filter refused.
LinkFigures linkFigures(const LinkQuality::Figures& f, LinkStatus status, std::uint64_t refused);

}  // namespace strandlink::protocol::classic
