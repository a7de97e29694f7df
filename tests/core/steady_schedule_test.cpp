// The steady schedule on its own: when a stamped message plays, how the offset is
// learned (across the 32-bit wrap and across negative differences), what wild
// stamps from anyone on the network can and cannot change, and a busy sender.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "link/steady_timing.h"

using namespace strandlink;

namespace {

constexpr std::int64_t kBase = 5'000'000'000LL;  // arrivals, µs
constexpr std::int64_t kDelay = 1000;

// The low 32 bits of a sender's clock that stands `behind` µs behind ours.
std::uint32_t stampOf(std::int64_t micros, std::int64_t behind = 7'000'000) {
  return std::uint32_t(std::uint64_t(micros - behind));
}

// A recording of what a JACK sender at 128 frames on a busy machine delivers at
// 1000 messages a second: each message stamped at its frame, sent when the next
// cycle wakes (late now and then, a whole cycle by a period or more), a noisy
// path; once in a while a cycle's stamps a period ahead (a hiccup of the
// sender's clock); and at 6 s the sender's clock steps back for good.
struct Recorded {
  std::uint32_t stamp;
  std::int64_t arrival, played;  // played: when, on our clock
  bool late, ahead;              // held up a period or more; stamped a period ahead
};

std::vector<Recorded> busyMachineRecording() {
  constexpr std::int64_t frames = 128, rate = 48000, period = frames * 1'000'000 / rate, step = 1200;
  std::mt19937_64 random(3);
  const auto uniform = [&](std::int64_t n) { return std::int64_t(random() % std::uint64_t(n)); };
  const auto exponential = [&](double mean) { return std::int64_t(-mean * std::log1p(-double(random() % 1000) / 1000)); };
  std::vector<Recorded> out;
  std::int64_t cycle = -1, sent = 0, ahead = 0, late = 0;
  for (std::int64_t i = 0; i < 10'000; ++i) {
    const std::int64_t frame = (i * 1000 + uniform(500)) * rate / 1'000'000;
    const std::int64_t played = kBase + frame * 1'000'000 / rate;
    if (frame / frames != cycle) {
      cycle = frame / frames;
      // A cycle waits for the one before; 2 % of them stall.
      const std::int64_t due = kBase + (cycle + 1) * frames * 1'000'000 / rate;
      sent = std::max(sent, due + 40 + exponential(60) + (uniform(100) < 2 ? period + uniform(2 * period) : 0));
      late = sent - due >= period;
      ahead = uniform(1000) < 3 ? period : 0;
    }
    const std::int64_t clock = played - 7'000'000 - (i >= 6000 ? step : 0) + ahead;
    out.push_back({std::uint32_t(std::uint64_t(clock)), sent + 30 + exponential(20), played, late != 0, ahead != 0});
  }
  return out;
}

}  // namespace

TEST(SteadySchedule, PlaysAtStampPlusTheLeastOffsetSettlingGentlyFollowsTheWindowAndNeverReorders) {
  link::SteadySchedule s;
  const std::int64_t base = kBase;
  const auto stamp = [](std::int64_t micros) { return stampOf(micros); };
  EXPECT_EQ(s.stamped(stamp(base), base + 900, 1000), base + 1900);
  // A quicker arrival: the offset falls by 1/128 of the 6.4 ms between the
  // stamps, not by the whole 500 µs, and not at all within a chord.
  EXPECT_EQ(s.stamped(stamp(base + 6400), base + 6800, 1000), base + 8250);
  EXPECT_EQ(s.stamped(stamp(base + 6400), base + 6810, 1000), base + 8250);
  // Settled once the stamps have moved on far enough.
  EXPECT_EQ(s.stamped(stamp(base + 500'000), base + 500'400, 1000), base + 501'400);
  // Without a stamp: arrival plus the delay, but never before the message before.
  EXPECT_EQ(s.unstamped(base + 502'000, 1000), base + 503'000);
  EXPECT_EQ(s.unstamped(base + 502'100, 100), base + 503'000);
  // The least offset leaves the window after a few seconds: drift is followed.
  EXPECT_EQ(s.stamped(stamp(base + 5'000'000), base + 5'000'700, 1000), base + 5'001'700);
  // The stamp's low 32 bits wrap before the arrival's: read on as before.
  const std::int64_t wrap = (base / (1LL << 32) + 1) * (1LL << 32) + 7'000'000 - 10;
  EXPECT_EQ(s.stamped(stamp(wrap), wrap + 700, 1000), wrap + 1700);
  // A clock jump: believed once four stamps in a row agree on it; until then each
  // plays as if it had no stamp. Then the window learns anew.
  for (int k = 0; k < 3; ++k) {
    const std::int64_t arrival = wrap + 5'000'000 + k * 10;
    EXPECT_EQ(s.stamped(stamp(wrap + 20 + k * 10), arrival, 1000), arrival + 1000) << k;
  }
  EXPECT_EQ(s.stamped(stamp(wrap + 50), wrap + 5'000'030, 1000), wrap + 5'001'030);
  EXPECT_EQ(s.stamped(stamp(wrap + 60), wrap + 5'000'040, 1000), wrap + 5'001'040);
}

// On loopback the sender stamps up to a period ahead of its sending, so that many
// (arrival - stamp) values are a little below zero: modulo 2^32 they are huge,
// and yet they are the least.
TEST(SteadySchedule, LearnsTheLeastAcrossNegativeDifferencesWithinABucketAndAcrossTheWindow) {
  link::SteadySchedule s;
  const auto at = [&](std::int64_t arrival, std::int64_t difference) {
    return s.stamped(stampOf(arrival, difference), arrival, kDelay) - arrival - kDelay;
  };
  EXPECT_EQ(at(kBase + 1000, 300), 0);
  // -200 is the least: the offset falls to it (the stamps are 0.5 s apart, far
  // enough to settle at once), and the message plays at its own stamp's moment.
  EXPECT_EQ(at(kBase + 501'000, -200), 0);
  // In the next bucket a difference of +100 plays 300 µs early: the window's least
  // is still the -200 of the bucket before.
  EXPECT_EQ(at(kBase + 1'501'000, 100), -300);
  EXPECT_EQ(at(kBase + 1'502'000, -150), -50);
}

// Anyone may send a stamped datagram to the MIDI port. Two of them (0.99 s ahead
// of the sender's clock, then 0.99 s behind) leave the real messages' moments
// exactly as a schedule that never saw them gives them.
TEST(SteadySchedule, OneWildStampChangesNothingThatLastsButAClockThatReallyJumpedIsFollowed) {
  link::SteadySchedule poisoned, clean;
  std::int64_t arrival = kBase;
  const auto both = [&](std::int64_t difference) {
    arrival += 10'000;
    const std::int64_t expected = clean.stamped(stampOf(arrival, difference), arrival, kDelay);
    EXPECT_EQ(poisoned.stamped(stampOf(arrival, difference), arrival, kDelay), expected) << arrival - kBase;
  };
  for (int k = 0; k < 20; ++k) both(400 + (k % 3) * 200);
  // From the future: played as if without a stamp, no later than its arrival plus
  // the delay; from the past: late, played at once.
  EXPECT_EQ(poisoned.stamped(stampOf(arrival + 1000, 400 - 990'000), arrival + 1000, kDelay), arrival + 1000 + kDelay);
  EXPECT_LE(poisoned.stamped(stampOf(arrival + 2000, 400 + 990'000), arrival + 2000, kDelay), arrival + 1000 + kDelay);
  for (int k = 0; k < 600; ++k) both(400 + (k % 3) * 200);

  // The sender restarted: a clock 3 s off. Three messages as if without stamps,
  // then the fourth is believed and the spacing is kept from there.
  for (int k = 0; k < 3; ++k) {
    arrival += 10'000;
    EXPECT_EQ(poisoned.stamped(stampOf(arrival, 3'000'400), arrival, kDelay), arrival + kDelay) << k;
  }
  arrival += 10'000;
  EXPECT_EQ(poisoned.stamped(stampOf(arrival, 3'000'400), arrival, kDelay), arrival + kDelay);
  EXPECT_EQ(poisoned.stamped(stampOf(arrival + 10'000, 3'000'600), arrival + 10'000, kDelay),
            arrival + 10'000 - 200 + kDelay);
  // Wild stamps that disagree with each other are never believed.
  for (int k = 0; k < 8; ++k) {
    arrival += 10'000;
    const std::int64_t wildDifference = (k % 2 ? -1 : 1) * 1'500'000 + 3'000'400;
    EXPECT_EQ(poisoned.stamped(stampOf(arrival, wildDifference), arrival, kDelay), arrival + kDelay) << k;
  }
}

// Every message, jitter and stalls alike, plays the same time after it was
// played, within 150 µs, but for 1.5 s after the step, which is followed.
// What a hiccup stamped ahead plays by its stamp, and the messages after it wait
// for it: they are not judged, as long as the offset stays.
TEST(SteadySchedule, ARecordingOfABusyMachinePlaysEvenlyAndFollowsTheOneRealStep) {
  link::SteadySchedule s;
  std::int64_t least = INT64_MAX, most = INT64_MIN, before = 0, lateInTime = 0;
  for (const Recorded& r : busyMachineRecording()) {
    const std::int64_t moment = s.stamped(r.stamp, r.arrival, 2667);
    const std::int64_t since = r.played - kBase, waited = std::exchange(before, moment) == moment;
    if (since < 2'000'000 || (since >= 6'000'000 && since < 7'500'000) || r.ahead || waited) continue;
    least = std::min(least, moment - r.played), most = std::max(most, moment - r.played);
    // The output places a message one period after its moment (see the bridge).
    lateInTime += !r.late && moment + 2667 < r.arrival;
  }
  EXPECT_LE(most - least, 150) << "from " << least << " to " << most << " µs after playing";
  EXPECT_EQ(lateInTime, 0) << "messages that came in time but were played late";
}
