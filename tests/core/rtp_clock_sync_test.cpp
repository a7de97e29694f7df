// The clock estimate and the sequence loss count on their own, from hand-made times
// and sequence numbers.
#include <gtest/gtest.h>

#include "protocol/rtp/clock_sync.h"
#include "protocol/rtp/sequence_tracker.h"

using namespace strandlink::protocol::rtp;

TEST(RtpClockSync, SamplesFromEitherSideOfAnExchange) {
  // Ours at 1000 and 1030, the peer's at 51010: 30 ticks round, the peer 49995 ahead.
  const ClockSync ours{1, 2, {1000, 51010, 1030}};
  EXPECT_EQ(sampleFromOwnExchange(ours), (SyncSample{30, 49995}));
  // The peer began it: its times at 0 and 2, ours in the middle.
  const ClockSync theirs{1, 2, {51000, 1010, 51030}};
  EXPECT_EQ(sampleFromPeerExchange(theirs), (SyncSample{30, 50005}));
  // A closing time before the opening one is garbage, not a huge round trip.
  EXPECT_FALSE(sampleFromOwnExchange(ClockSync{1, 2, {1030, 5, 1000}}));
  EXPECT_EQ(toSyncTicks(1'234'567), 12345u);
}

TEST(RtpClockSync, EstimateTrustsTheQuickestOfTheRecentExchanges) {
  ClockEstimate estimate;
  EXPECT_FALSE(estimate.best());
  estimate.add({40, 7});
  estimate.add({12, 3});
  estimate.add({25, 9});
  EXPECT_EQ(estimate.best(), (SyncSample{12, 3}));
  // After enough newer ones the old quick one ages out, so drift is followed.
  for (int i = 0; i < static_cast<int>(ClockEstimate::kKept); ++i) estimate.add({20 + i, 100 + i});
  EXPECT_EQ(estimate.best(), (SyncSample{20, 100}));
  EXPECT_EQ(estimate.exchanges(), 3 + ClockEstimate::kKept);
}

TEST(RtpSequenceTracker, CountsLossAcrossTheWrapAndTakesBackLatePackets) {
  SequenceTracker t;
  for (int s : {65533, 65534, 65535, 0, 2, 5}) EXPECT_TRUE(t.received(static_cast<std::uint16_t>(s)));
  EXPECT_EQ(t.lost(), 3u);    // 1, 3 and 4
  EXPECT_TRUE(t.received(3));  // late, not lost after all
  EXPECT_EQ(t.lost(), 2u);
  EXPECT_FALSE(t.received(3));  // a duplicate is not played twice
  EXPECT_FALSE(t.received(65535));
  EXPECT_EQ(t.duplicates(), 2u);
  EXPECT_EQ(t.lost(), 2u);
  EXPECT_EQ(t.highest(), 5);
  EXPECT_TRUE(t.received(5 + 100));  // a long gap, beyond the reorder window
  EXPECT_EQ(t.lost(), 101u);
  EXPECT_FALSE(t.received(10));  // too old to tell: neither taken back nor counted
  EXPECT_EQ(t.lost(), 101u);
  // One packet far ahead (a forger's) moves nothing: the next real one plays.
  EXPECT_FALSE(t.received(105 + 30000));
  EXPECT_TRUE(t.received(106));
  EXPECT_EQ(t.lost(), 101u);
  // A far number that the packets after it follow is the sender's new numbering.
  EXPECT_FALSE(t.received(20000));
  EXPECT_FALSE(t.received(20001));
  EXPECT_TRUE(t.received(20002));
  EXPECT_TRUE(t.received(20003));
  EXPECT_EQ(t.lost(), 101u);
  EXPECT_EQ(t.disbelieved(), 4u);
  t.restart();  // a new sender: numbering starts afresh
  EXPECT_TRUE(t.received(40000));
  EXPECT_EQ(t.lost(), 101u);
  EXPECT_EQ(t.highest(), 40000);
}
