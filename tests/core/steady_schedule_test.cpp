// The steady schedule on its own: when a stamped message plays, how the offset is
// learned (across the 32-bit wrap and across negative differences), and what wild
// stamps from anyone on the network can and cannot change.
#include <gtest/gtest.h>

#include <QFile>

#include <algorithm>
#include <cstring>
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

// 6,000 messages at 1,000 a second from one copy to another on a busy 2-core
// machine, recorded where the receiver hands them to the schedule: each one's
// stamp and its arrival (µs after the first, which came at 1,586,723,795), both
// on the clock of the one JACK server the two shared, at 128 frames; it missed
// about 30 cycles in the run, and some seconds hold several messages that came up
// to 3 ms earlier against their stamps than the rest. After the first second the delay of each message
// against its stamp stays within 150 µs: no early few pull the phrase back.
TEST(SteadySchedule, KeepsItsDelayThroughTheArrivalsOfABusyMachine) {
  QFile recorded(QStringLiteral(STRANDLINK_TEST_DATA "/steady_arrivals_busy.bin"));
  ASSERT_TRUE(recorded.open(QIODevice::ReadOnly));
  const QByteArray bytes = recorded.readAll();
  ASSERT_EQ(bytes.size(), 6000 * 8);
  constexpr std::int64_t kFirst = 1'586'723'795, kPeriod = 2667;
  link::SteadySchedule s;
  std::vector<std::int64_t> delays;
  for (qsizetype at = 0; at < bytes.size(); at += 8) {
    std::uint32_t stamp = 0;
    std::int32_t after = 0;
    std::memcpy(&stamp, bytes.constData() + at, 4);  // little-endian, as recorded
    std::memcpy(&after, bytes.constData() + at + 4, 4);
    const std::int64_t moment = s.stamped(stamp, kFirst + after, kPeriod);
    if (after > 1'000'000) delays.push_back(std::int32_t(std::uint32_t(moment) - stamp));
  }
  std::sort(delays.begin(), delays.end());
  EXPECT_LE(delays.back() - delays.front(), 150);
}
