// The lossy relay of tests/support/journal_relay.h at 5 % loss in bursts: with the
// journal B ends every note, holds A's values and plays nothing twice; without it
// notes hang, which shows the check can fail.
#include <gtest/gtest.h>

#include "support/journal_relay.h"

namespace strandlink::test {
namespace {

constexpr Loss kBursts{"5 % in bursts", 0.05, 3};

TEST(RtpJournalRelay, WithTheJournalNoNoteHangsValuesMatchAndNothingSoundsTwice) {
  const RelayRun r = playThroughRelay(true, kBursts, 7);
  ASSERT_TRUE(r.connected);
  EXPECT_EQ(r.unsent, 0);
  EXPECT_GT(r.dropped, 20);
  EXPECT_EQ(r.heard.hanging(), 0);
  EXPECT_EQ(r.wrongValues, 0);
  EXPECT_EQ(r.heard.playedTwice, 0);
  EXPECT_GT(r.counts.notesEnded, 0u);
  EXPECT_EQ(r.counts.unrepaired, 0u);
  EXPECT_TRUE(r.figures.contains(QStringLiteral("values restored"))) << r.figures.toStdString();
}

TEST(RtpJournalRelay, WithoutTheJournalNotesHang) {
  const RelayRun r = playThroughRelay(false, kBursts, 7);
  ASSERT_TRUE(r.connected);
  EXPECT_GT(r.heard.hanging(), 0);
  EXPECT_GT(r.wrongValues, 0);
}

}  // namespace
}  // namespace strandlink::test
