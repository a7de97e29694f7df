// Two copies of the real program in RTP mode with the lossy relay of
// tests/support/journal_relay.h between them, losing A's MIDI packets at 5 % in
// bursts and every packet of the phrase's last step. A JACK client plays 1,000 note
// pairs with the sustain pedal, a controller sweep, pitch bend, program changes and
// NRPNs into A and records B: with the journal no note is left sounding, B's values
// are A's and nothing sounds twice; with it off (for A only) notes hang, which
// shows that the check can fail.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/jack_client.h"
#include "support/journal_relay.h"
#include "support/program_copy.h"
#include "support/real_part.h"

namespace strandlink::test {
namespace {

constexpr Loss kBursts{"5 % in bursts", 0.05, 3};
constexpr unsigned kSeed = 7;
constexpr std::uint32_t kStepFrames = 144;  // 3 ms at the test server's 48 kHz

struct Heard {
  bool played = false;
  Listener heard;
  int wrongValues = 0, dropped = 0;
};

// Plays the steps kStepFrames apart, some hundreds at a time (the keyboard's queue
// is bounded), taking in what the synth hears meanwhile (so is its own).
bool playSteps(JackKeyboard& keys, JackSynth& ears, std::span<const std::vector<Bytes>> steps) {
  for (std::size_t from = 0; from < steps.size(); from += 400) {
    std::vector<MidiBytes> messages;
    std::vector<std::uint32_t> gaps;
    std::uint32_t gap = 0;
    for (const auto& step : steps.subspan(from, std::min<std::size_t>(400, steps.size() - from))) {
      for (const Bytes& m : step) messages.push_back(m), gaps.push_back(std::exchange(gap, 0));
      gap += kStepFrames;
    }
    if (!keys.playSpaced(messages, gaps) ||
        !waitFor([&] { return ears.count(), keys.waitUntilPlayed(std::chrono::milliseconds(0)); }, 30000))
      return false;
  }
  return true;
}

class RtpProgramLoss : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
    ASSERT_TRUE(QFile::copy(QStringLiteral(STRANDLINK_PROGRAM), program));
  }

  Heard play(bool journal) {
    Heard run;
    const QString tag = journal ? "J" : "N";
    const int a = freePortPair(), b = freePortPair();
    LossyRelay relay(a, b, kBursts, kSeed);
    QProcessEnvironment withoutJournal = QProcessEnvironment::systemEnvironment();
    if (!journal) withoutJournal.insert("STRANDLINK_NO_JOURNAL", "1");
    Copy copyA(program, "LossA" + tag, a, relay.port, "immediate", withoutJournal),
        copyB(program, "LossB" + tag, b, relay.portForB, "immediate");
    if (!waitFor([&] { return copyA.says("Connected") && copyB.says("Connected"); }))
      return ADD_FAILURE() << "no session: " << copyA.out().toStdString() << copyB.out().toStdString(), run;
    JackKeyboard keys("loss-keys" + tag.toStdString());
    JackSynth ears("loss-ears" + tag.toStdString());
    if (!keys.ok() || !keys.connect(keys.port(), "LossA" + tag.toStdString() + ":in") ||
        !ears.connect("LossB" + tag.toStdString() + ":out", ears.port()))
      return run;
    // New connections carry data some cycles later: a clock byte until one comes out.
    if (!waitFor([&] { return keys.play({{0xF8}}) && waitFor([&] { return ears.count() > 0; }, 200); })) return run;
    settle(300);
    ears.clear();

    Phrase phrase(kSeed, true);
    std::vector<std::vector<Bytes>> steps;
    for (int n = 0; !phrase.done(); ++n) steps.push_back(phrase.step(n));
    steps.back().push_back({0xB0, 64, 0});  // the pedal released with the last note-offs
    MidiState truth;
    for (const auto& step : steps)
      for (const Bytes& m : step) truth.apply(midi::MidiEventView(m));
    if (!playSteps(keys, ears, std::span(steps).first(steps.size() - 1))) return run;
    settle(300);  // what went before has crossed
    relay.dropAllMidi = true;
    if (!playSteps(keys, ears, std::span(steps).last(1))) return run;

    const auto hear = [&] {
      run.heard = {};
      for (const MidiBytes& m : ears.received()) run.heard.hear(midi::MidiEvent::fromBytes(m));
      run.wrongValues = differences(truth, run.heard.state);
      return run.heard.hanging() == 0 && run.wrongValues == 0;
    };
    waitFor(hear, 5000);  // the guard packets come 20 ms, 40 ms ... after the last MIDI
    settle(300);          // and nothing more comes after them
    hear();
    run.dropped = relay.dropped;
    run.played = !ears.overflowed();
    return run;
  }

  QTemporaryDir dir;  // the program's own copy, so that its default file lies here
  const QString program = dir.filePath("strandlink");
};

TEST_F(RtpProgramLoss, WithTheJournalNoNoteHangsValuesMatchAndNothingSoundsTwice) {
  const Heard r = play(true);
  ASSERT_TRUE(r.played);
  EXPECT_GT(r.dropped, 20);
  EXPECT_EQ(r.heard.hanging(), 0);
  EXPECT_EQ(r.wrongValues, 0);
  EXPECT_EQ(r.heard.playedTwice, 0);
}

TEST_F(RtpProgramLoss, WithoutTheJournalNotesHang) {
  const Heard r = play(false);
  ASSERT_TRUE(r.played);
  EXPECT_GT(r.dropped, 20);
  EXPECT_GT(r.heard.hanging(), 0);
}

}  // namespace
}  // namespace strandlink::test
