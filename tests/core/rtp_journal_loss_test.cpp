// The loss runs of tests/support/journal_loss_run.h: with the journal no note
// hangs, every value at the receiver equals the sender's and nothing sounds twice
// (without it notes hang: the relay test shows that the check can fail).
#include <gtest/gtest.h>

#include "support/journal_loss_run.h"

using strandlink::test::Loss;
using strandlink::test::Outcome;
using strandlink::test::play;

TEST(RtpJournalLoss, NoNoteHangsAndEveryValueArrivesThroughLoss) {
  const Loss losses[] = {{"1 % random", 0.01, 1}, {"5 % random", 0.05, 1}, {"10 % random", 0.10, 1}, {"5 % in bursts", 0.05, 3}};
  for (const Loss& loss : losses) {
    for (unsigned seed : {1u, 2u}) {
      SCOPED_TRACE(testing::Message() << loss.name << ", seed " << seed);
      const Outcome o = play(loss, true, seed, seed == 2);
      EXPECT_EQ(o.faults, 0);
      EXPECT_EQ(o.hanging, 0);
      EXPECT_EQ(o.wrongValues, 0);
      EXPECT_EQ(o.playedTwice, 0);
      EXPECT_GT(o.counts.gaps, 0u);
      EXPECT_GT(o.counts.notesEnded, 0u);
      EXPECT_EQ(o.counts.unrepaired, 0u);
    }
  }
}
