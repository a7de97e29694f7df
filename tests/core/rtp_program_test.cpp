// Two copies of the real program linked over RTP-MIDI on the test's JACK server,
// each naming the other (so both invite at once): MIDI and a SysEx of the longest
// an input delivers pass byte-exact in both timings, and a copy killed without a
// goodbye and started again is let back in at once.
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/jack_client.h"
#include "support/program_copy.h"
#include "support/real_part.h"
#include "support/side.h"
#include "support/sysex_bytes.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

class RtpProgram : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
    ASSERT_TRUE(QFile::copy(QStringLiteral(STRANDLINK_PROGRAM), program));
  }
  QTemporaryDir dir;  // the program's own copy, so that its default file lies here
  const QString program = dir.filePath("strandlink");
  const int a = freePortPair(), b = freePortPair();
};

TEST_P(RtpProgram, NotesAndA64KiBSysExPassByteExact) {
  const QString timing = QString::fromLatin1(GetParam());
  Copy copyA(program, "RtpA" + timing, a, b, timing), copyB(program, "RtpB" + timing, b, a, timing);
  ASSERT_TRUE(waitFor([&] { return copyA.says("Connected") && copyB.says("Connected"); }))
      << copyA.out().toStdString() << copyB.out().toStdString();
  JackSysExClient player("rtp-player-" + timing.toStdString());
  const std::string into = "RtpA" + timing.toStdString() + ":in", outOf = "RtpB" + timing.toStdString() + ":out";
  ASSERT_TRUE(player.ok() && player.connect(player.outPort(), into) && player.connect(outOf, player.inPort()));
  // New connections carry data some cycles later: a clock byte until one comes out.
  ASSERT_TRUE(waitFor([&] {
    player.play({{{0xF8}}});
    return waitFor([&] { return !player.events().empty(); }, 200);
  }));
  settle(300);
  const std::size_t before = player.events().size();
  const MidiBytes dump = sysExOf(midi::kMaxMessageBytes);
  const std::vector<MidiBytes> sent{{0x90, 0x3C, 0x64}, dump, {0xB1, 0x07, 0x50}, {0xE2, 0x00, 0x40}, {0x80, 0x3C, 0}};
  player.play({{sent[0]}, {dump, player.roomPerCycle()}, {sent[2]}, {sent[3]}, {sent[4]}});
  ASSERT_TRUE(player.waitUntilPlayed());
  ASSERT_TRUE(waitFor([&] { return player.lastEvent() == sent.back(); })) << player.events().size();
  const auto all = player.events();
  auto got = wholeMessages({all.begin() + std::ptrdiff_t(before), all.end()});
  std::erase_if(got, [](const auto& m) { return m.bytes == MidiBytes{0xF8}; });  // late from the warm-up
  ASSERT_EQ(got.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_TRUE(got[i].bytes == sent[i]) << "message " << i;
}

INSTANTIATE_TEST_SUITE_P(BothTimings, RtpProgram, ::testing::Values("immediate", "steady"));

// Killed, B says no goodbye; started again, it invites A, which takes the new run
// for a restart of its peer at once instead of waiting out a minute of silence.
TEST_F(RtpProgram, AKilledPeerIsConnectedAgainWithinThreeSeconds) {
  Copy copyA(program, "RtpKeep", a, b, "immediate");
  auto copyB = std::make_unique<Copy>(program, "RtpKilled", b, a, "immediate");
  ASSERT_TRUE(waitFor([&] { return copyA.says("Connected") && copyB->says("Connected"); }))
      << copyA.out().toStdString() << copyB->out().toStdString();
  ASSERT_GT(copyB->processId(), 0);
  ::kill(pid_t(copyB->processId()), SIGKILL);
  ASSERT_TRUE(copyB->waitForFinished(5000));
  const qsizetype seen = copyA.out().size();
  copyB = std::make_unique<Copy>(program, "RtpKilled", b, a, "immediate");
  QElapsedTimer sinceRestart;
  sinceRestart.start();
  // A generous bound on a loaded machine; the session takes milliseconds on loopback.
  ASSERT_TRUE(waitFor([&] {
    return copyB->says("Connected") && copyA.out().mid(seen).contains("\nConnected\n");
  }, 3000)) << copyA.out().toStdString() << copyB->out().toStdString();
  EXPECT_LT(sinceRestart.elapsed(), 3000);
}

}  // namespace
