// Steady timing: the schedule that plays received messages a constant time after
// the moment they were played. The peer protocol carries that moment, the low 32
// bits of the sender's monotonic clock in µs, where its wire has room for it.
//
// The receiver knows nothing of the sender's clock. The earliest (arrival - stamp)
// of the last few seconds stands for it: the offset. A message is played at its
// stamp plus the offset plus the delay, so that messages keep the spacing they
// were played with; the window follows drift, and a clock that jumps is learned
// anew.
//
// A few messages of a second may come far earlier against their stamps than the
// rest (a cycle of the sender's that ran early, a queue that emptied at once):
// one of them taken for the sender's clock would pull every later note earlier
// for as long as it stays in the window, and the whole phrase would move back when
// it leaves. So a second counts by its sixteenth-earliest difference, or while
// fewer have come by the earliest of the later two thirds (the earliest of one or
// two): a step is believed once several messages show it. Once three have come,
// what stands for a second only falls: a second that rose as its messages came
// would move the offset up and down by a rank, a frame or so, within a phrase.
//
// Anyone can send a stamp, and one wild stamp must change nothing that lasts. A
// difference far below the least (a stamp from the future) or far above it is not
// learned: its message plays as one without a stamp. Only when several such
// differences in a row agree with each other has the sender's clock really
// jumped, and the window starts afresh from them.
//
// A JACK sender stamps each message up to a period ahead of the moment it sends
// it, so the smallest difference is found only once a message late in one of its
// cycles has come. Until then the offset is too large, which only delays: it
// falls to each new smallest difference gently, per message by at most 1/128 of
// the distance between its stamp and the one before, so that no gap between two
// notes changes by more than 0.8 % and the notes of a chord stay together, rather
// than pulling a phrase's notes together at once; a whole period of 1024 frames
// is learned within three seconds of playing. It rises at once, which delays.
// Everything here runs on the loop's thread.
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

  // How long one bucket of the offset's window lasts, and how many there are: the
  // offset is the least of the last three to four seconds.
  static constexpr std::int64_t kBucketMicros = 1000000;
  static constexpr std::size_t kBuckets = 4;
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
  bool wild(std::uint32_t difference) const;
  // Counts one more wild difference; true once enough in a row agree.
  bool jumpBelieved(std::uint32_t difference);
  // Never earlier than the message before: nothing is reordered.
  std::int64_t inOrder(std::int64_t moment);

  // The earliest differences of a second, earliest first: (arrival - stamp)
  // modulo 2^32, compared wrap-aware.
  static constexpr std::size_t kKept = 16;
  struct Bucket {
    std::int64_t index = -1;  // arrival / kBucketMicros; -1: empty
    std::size_t count = 0;    // differences counted
    std::array<std::uint32_t, kKept> earliest{};
    std::uint32_t least = 0;  // what stands for the second; see add()
    void add(std::uint32_t difference);
  };
  std::array<Bucket, kBuckets> buckets_{};
  std::optional<std::uint32_t> least_;   // of the window
  std::optional<std::uint32_t> offset_;  // in use: settles down to the least
  std::uint32_t lastStamp_ = 0;
  std::optional<std::int64_t> last_;
  // The wild differences in a row so far, the first of them and their least.
  int jumpVotes_ = 0;
  std::uint32_t jumpFirst_ = 0;
  std::uint32_t jumpLeast_ = 0;
};

}  // namespace strandlink::link
