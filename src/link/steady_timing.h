// Steady timing: the schedule that plays received messages a constant time after
// the moment they were played. The peer protocol carries that moment, the low 32
// bits of the sender's monotonic clock in µs, where its wire has room for it.
//
// The receiver knows nothing of the sender's clock. The least (arrival - stamp)
// stands for it: the offset. A message is played at its stamp plus the offset plus
// the delay, so that messages keep the spacing they were played with. A late
// difference only says the path was slow once; an early one may be a hiccup of
// the sender's clock, and an offset that follows it moves every later message by
// as much. So the offset follows only what persists: the differences are kept in
// short buckets of the last few seconds, a full bucket speaks with one of its
// least few rather than its least, and a least is believed once several buckets
// in a row reached it (one early difference, or the few of a hiccup, are
// outvoted; a few notes now and then, too few to vote, give their least).
// A rise, a sender's clock that stepped back, is believed once whole buckets in a
// row all stayed above the offset; otherwise once the old least has left the
// window. The window follows drift.
//
// Anyone can send a stamp, and one wild stamp must change nothing that lasts. A
// difference far below the least (a stamp from the future) or far above it is not
// learned: its message plays as one without a stamp. Only when several such
// differences in a row agree with each other has the sender's clock really
// jumped, and the window starts afresh from them.
//
// A JACK sender stamps each message up to a period ahead of the moment it sends
// it, so the least difference is found only once messages late in their cycles
// have come. Until then the offset is too large, which only delays: it falls to
// each new believed least gently, per message by at most 1/128 of the distance
// between its stamp and the one before, so that no gap between two notes changes
// by more than 0.8 % and the notes of a chord stay together; a whole period of
// 1024 frames is learned within three seconds of playing. It rises at once, which
// delays. Everything here runs on the loop's thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace strandlink::link {

class SteadySchedule {
 public:
  // The moment (monotonic µs) at which to play a message that arrived at arrival
  // with this stamp. A wild stamp (see above) gets the moment of a message
  // without one. The caller keeps a copy of the schedule from before and puts it
  // back when the message could not be played: only what is played may teach.
  std::int64_t stamped(std::uint32_t stamp, std::int64_t arrival, std::int64_t delay);
  // A message without a stamp (an older peer, an immediate sender): its arrival
  // plus the delay.
  std::int64_t unstamped(std::int64_t arrival, std::int64_t delay);
  // Forgets the offset (a new session).
  void reset();

  // How long one bucket of differences lasts, and how many make the window: the
  // offset comes from the last 3.75 to 4 seconds.
  static constexpr std::int64_t kBucketMicros = 250000;
  static constexpr std::size_t kBuckets = 16;
  // A least is believed once this many buckets of the window reached it, and a
  // rise once this many whole buckets in a row stayed above the offset.
  static constexpr std::size_t kConfirmingBuckets = 3;
  // A bucket of fewer differences says too little of the least to outvote or to
  // rise: a few notes are rarely the late ones of their cycles.
  static constexpr std::uint32_t kFullBucket = 64;
  // A rise smaller than this waits for the old least to leave the window.
  static constexpr std::int64_t kRiseMicros = 200;
  // A difference this far below the least is wild: further than a sender's period
  // of stamping ahead and a path that became quicker could explain.
  static constexpr std::int64_t kAheadMicros = 100000;
  // A difference this far above the least is wild: later than jitter explains.
  static constexpr std::int64_t kJumpMicros = 1000000;
  // This many wild differences in a row, each within kAheadMicros of the first:
  // the sender's clock jumped.
  static constexpr int kJumpVotes = 4;
  // Per message the offset falls by at most the stamps' distance divided by this.
  static constexpr std::int64_t kSettleDivisor = 128;

 private:
  void learn(std::uint32_t difference, std::int64_t arrival);
  struct Bucket;
  static void keepLow(Bucket& bucket, std::uint32_t difference);
  // The least that kConfirmingBuckets buckets in a row reached, relative to
  // reference; while fewer hold differences, or few, their least.
  std::int64_t believedLeast(std::int64_t index, std::uint32_t reference) const;
  // The least of the whole buckets just before index when they all stayed more
  // than kRiseMicros above `above`; none otherwise.
  std::optional<std::int64_t> risenLeast(std::int64_t index, std::uint32_t reference, std::int64_t above) const;
  bool wild(std::uint32_t difference) const;
  // Counts one more wild difference; true once enough in a row agree.
  bool jumpBelieved(std::uint32_t difference);
  // Never earlier than the message before: nothing is reordered.
  std::int64_t inOrder(std::int64_t moment);

  // The differences a bucket's voice counts from: its least, or in a full bucket
  // the kHiccupMessages-th least, so that the few messages of a hiccup or two say nothing.
  static constexpr std::size_t kHiccupMessages = 8;
  struct Bucket {
    std::int64_t index = -1;  // arrival / kBucketMicros; -1: empty
    // The least differences (arrival - stamp) modulo 2^32, compared wrap-aware, in order.
    std::array<std::uint32_t, kHiccupMessages> lows{};
    std::uint32_t count = 0;
    std::uint32_t value() const { return lows[count >= kFullBucket ? kHiccupMessages - 1 : 0]; }
  };
  std::array<Bucket, kBuckets> buckets_{};
  std::optional<std::uint32_t> least_;   // believed
  std::optional<std::uint32_t> offset_;  // in use: settles down to the least
  std::uint32_t lastStamp_ = 0;
  std::optional<std::int64_t> last_;
  // The wild differences in a row so far, the first of them and their least.
  int jumpVotes_ = 0;
  std::uint32_t jumpFirst_ = 0;
  std::uint32_t jumpLeast_ = 0;
};

}  // namespace strandlink::link
