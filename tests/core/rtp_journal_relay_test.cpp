// The lossy relay of tests/support/journal_relay.h between two protocols: a repair
// leaves alone what the link itself ended. (The phrase through loss is played
// through two copies of the program, tests/core/rtp_program_loss_test.cpp.)
#include <gtest/gtest.h>

#include <set>

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

// One copy invites two participants, each through a relay: the first loses some
// packets, the second never says what it has. Each has a journal of its own: the
// first's is trimmed by its feedback and repairs its losses, the second's keeps
// everything it never confirmed, and nothing of that reaches the first.
TEST(RtpJournalRelay, EachParticipantsJournalFollowsItsOwnFeedback) {
  End a(freePortPair()), b(freePortPair()), c(freePortPair());
  LossyRelay toB(a.port, b.port, {"none", 0, 1}, 1), toC(a.port, c.port, {"none", 0, 1}, 2);
  toC.dropFeedback = true;
  ASSERT_TRUE(b.start(std::nullopt) && c.start(std::nullopt) && a.start(toB.port, {toC.port}));
  ASSERT_TRUE(waitFor([&] { return a.rtp.participantsLinked() == 2 && b.connected() && c.connected(); }, 5000));
  constexpr int kNotes = 120;
  for (std::uint8_t n = 0; n < kNotes; ++n) {
    ASSERT_EQ(a.rtp.send(midi::MidiEventView(Bytes{0x90, n, 100}), 0), protocol::SendResult::Sent);
    if (n % 20 == 7) toB.dropNextMidi = true;  // this note's note-off
    ASSERT_EQ(a.rtp.send(midi::MidiEventView(Bytes{0x80, n, 0}), 0), protocol::SendResult::Sent);
    settle(30);
  }
  ASSERT_TRUE(waitFor([&] { return c.sink.events.size() >= 2 * kNotes && b.rtp.repairs().gaps >= 6; }, 5000))
      << c.sink.events.size() << ", gaps " << b.rtp.repairs().gaps;
  // Every note the first heard begin, it heard end: its journal mended each loss.
  std::set<int> sounding;
  for (const Received& r : b.sink.events) {
    if (r.bytes.at(0) == 0x90) sounding.insert(r.bytes.at(1));
    else sounding.erase(r.bytes.at(1));
  }
  EXPECT_TRUE(sounding.empty()) << sounding.size() << " notes hang";
  // Its journal goes back a second or so, to what it last said it has; the
  // other's to the start, however many packets ago.
  EXPECT_GE(toC.checkpointLag, kNotes) << toC.checkpointLag;
  EXPECT_LT(2 * toB.checkpointLag, toC.checkpointLag) << toB.checkpointLag << " against " << toC.checkpointLag;
}

}  // namespace
}  // namespace strandlink::test
