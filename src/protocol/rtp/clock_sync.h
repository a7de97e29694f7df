// Clock sync between two session peers: when to start an exchange (CK0), and the
// round trip and clock offset learned from them. Times on the wire count 100 µs
// ticks, the unit the common peers use; the estimate trusts the exchange with the
// lowest round trip among the recent ones, as that one was delayed least.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/rtp/session_packet.h"

namespace strandlink::protocol::rtp {

using Micros = std::int64_t;  // a monotonic time in microseconds

inline constexpr Micros kMicrosPerTick = 100;
inline constexpr int kBurstExchanges = 6;
inline constexpr Micros kBurstInterval = 400'000;  // six in two seconds
inline constexpr Micros kSteadyInterval = 10'000'000;
inline constexpr Micros kUnsyncedInterval = 1'000'000;  // after the burst, while none came back

std::uint64_t toSyncTicks(Micros now);

struct SyncSample {
  std::int64_t roundTrip = 0;  // ticks
  std::int64_t offset = 0;     // ticks to add to this side's clock to read the peer's
  friend bool operator==(const SyncSample&, const SyncSample&) = default;
};

// From a closing CK2 of an exchange this side began: times 0 and 2 are ours.
std::optional<SyncSample> sampleFromOwnExchange(const ClockSync& closing);
// From a CK2 the peer sent to close its exchange: time 1 is ours.
std::optional<SyncSample> sampleFromPeerExchange(const ClockSync& closing);

class ClockEstimate {
 public:
  static constexpr std::size_t kKept = 8;

  void add(const SyncSample& sample);
  void reset() {
    count_ = 0;
    next_ = 0;
  }
  std::optional<SyncSample> best() const;
  std::size_t exchanges() const { return total_; }

 private:
  std::array<SyncSample, kKept> recent_{};
  std::size_t count_ = 0;
  std::size_t next_ = 0;
  std::size_t total_ = 0;
};

// A burst of exchanges when a session comes up, then one every ten seconds; one a
// second while none has come back yet.
class SyncSchedule {
 public:
  void begin(Micros now) {
    next_ = now;
    sent_ = 0;
  }
  bool due(Micros now) const { return next_ && now >= *next_; }
  void exchangeStarted(Micros now, bool synced);
  void halt() { next_.reset(); }
  std::optional<Micros> next() const { return next_; }

 private:
  std::optional<Micros> next_;
  int sent_ = 0;
};

}  // namespace strandlink::protocol::rtp
