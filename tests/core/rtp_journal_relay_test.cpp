// The lossy relay of tests/support/journal_relay.h between two protocols: a repair
// leaves alone what the link itself ended. (The phrase through loss is played
// through two copies of the program, tests/core/rtp_program_loss_test.cpp.)
#include <gtest/gtest.h>

#include "support/journal_relay.h"

namespace strandlink::test {
namespace {

// Notes the link itself ended (Panic, the link's fall) are not ended a second time
// when a journal later repairs the lost note-off.
TEST(RtpJournalRelay, NotesTheLinkEndedAreNotEndedAgainByARepair) {
  End a(freePortPair()), b(freePortPair());
  LossyRelay relay(a.port, b.port, {"none", 0, 1}, 1);
  ASSERT_TRUE(b.start(std::nullopt) && a.start(relay.port));
  ASSERT_TRUE(waitFor([&] { return a.connected() && b.connected(); }, 5000));
  const Bytes on{0x90, 60, 100}, off{0x80, 60, 0}, bend{0xE0, 0, 0x50};
  ASSERT_EQ(a.rtp.send(midi::MidiEventView(on), 0), protocol::SendResult::Sent);
  ASSERT_TRUE(waitFor([&] { return b.sink.events.size() == 1; }));
  b.rtp.heldNotesReleased();
  relay.dropNextMidi = true;
  ASSERT_EQ(a.rtp.send(midi::MidiEventView(off), 0), protocol::SendResult::Sent);
  ASSERT_EQ(a.rtp.send(midi::MidiEventView(bend), 0), protocol::SendResult::Sent);
  ASSERT_TRUE(waitFor([&] { return b.rtp.repairs().gaps > 0 && b.sink.events.back().bytes == bend; }, 3000));
  settle(100);
  ASSERT_EQ(b.sink.events.size(), 2u);
  EXPECT_EQ(b.sink.events[1].bytes, bend);
  // The link figures count the repair, and no note ended by it.
  const QString figures = link::figuresText(b.rtp.figures());
  EXPECT_TRUE(figures.contains(QStringLiteral("repaired 1 gaps (1 packets lost), 0 notes ended"))) << figures.toStdString();
}

}  // namespace
}  // namespace strandlink::test
