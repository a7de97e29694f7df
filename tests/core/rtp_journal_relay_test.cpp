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

// Notes the link itself ended (Panic, the link's fall) are not ended a second time
// when a journal later repairs the lost note-off.
TEST(RtpJournalRelay, NotesTheLinkEndedAreNotEndedAgainByARepair) {
  End a(freePortPair()), b(freePortPair());
  LossyRelay relay(a.port, b.port, {"none", 0, 1}, 1);
  ASSERT_TRUE(b.start(std::nullopt) && a.start(relay.port));
  ASSERT_TRUE(waitFor([&] { return a.connected() && b.connected(); }, 5000));
  const Bytes on{0x90, 60, 100}, off{0x80, 60, 0}, bend{0xE0, 0, 0x50};
  ASSERT_EQ(a.rtp.sendFromLoop(midi::MidiEventView(on), 0), protocol::SendResult::Sent);
  ASSERT_TRUE(waitFor([&] { return b.sink.events.size() == 1; }));
  b.rtp.heldNotesReleased();
  relay.dropNextMidi = true;
  ASSERT_EQ(a.rtp.sendFromLoop(midi::MidiEventView(off), 0), protocol::SendResult::Sent);
  ASSERT_EQ(a.rtp.sendFromLoop(midi::MidiEventView(bend), 0), protocol::SendResult::Sent);
  ASSERT_TRUE(waitFor([&] { return b.rtp.repairs().gaps > 0 && b.sink.events.back().bytes == bend; }, 3000));
  settle(100);
  ASSERT_EQ(b.sink.events.size(), 2u);
  EXPECT_EQ(b.sink.events[1].bytes, bend);
}

}  // namespace
}  // namespace strandlink::test
