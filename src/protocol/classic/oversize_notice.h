// Datagrams longer than a port reads. Anyone on the network can send them, so
// they are no error worth a box: they are counted, and said in a line at most once
// a minute. The loop's thread only.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <optional>

#include "protocol/peer_notice.h"

namespace strandlink::protocol::classic {

class OversizeNotice {
 public:
  using Clock = std::chrono::steady_clock;

  // readLength: the longest datagram the port takes.
  OversizeNotice(ClassicPort port, int readLength) : told_{port, readLength} {}

  // One more from this sender: the notice to give now, or none when one was
  // given less than a minute ago (this one is told with the next).
  std::optional<OversizeIgnored> count(const sockaddr_in& from, Clock::time_point now);
  // The notice of those counted since the last one, once a minute has passed
  // since it; else none. Asked now and then (once a second).
  std::optional<OversizeIgnored> due(Clock::time_point now);
  std::uint64_t total() const { return total_; }

  static constexpr std::chrono::seconds kQuiet{60};

 private:
  OversizeIgnored told_;  // its count: those not told yet
  std::uint64_t total_ = 0;
  std::optional<Clock::time_point> toldAt_;
};

}  // namespace strandlink::protocol::classic
