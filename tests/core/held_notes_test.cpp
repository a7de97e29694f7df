// Notes the peer left sounding are released when the link falls, at Stop and on
// panic, through a real JACK synth listening to the receiving side's output.
#include <gtest/gtest.h>

#include "midi/held_notes.h"
#include "support/jack_client.h"
#include "support/real_part.h"
#include "support/side.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

class HeldNotesLink : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
    localPort = freePortPair();
    const int peerPort = freePortPair();
    peer = std::make_unique<RawPeer>(peerPort);
    peerChat = std::make_unique<RawPeer>(peerPort + 1);
    side = makeSide("HeldB", localPort, peerPort);
    ASSERT_TRUE(side->start(true)) << side->boxes.texts().join("; ").toStdString();  // thru on
    const auto out = synth.midiPorts("^HeldB", JackPortIsOutput);
    ASSERT_EQ(out.size(), 1u);
    ASSERT_TRUE(synth.connect(out[0], synth.port()));
    // New connections carry data some cycles later: send active sensing until one arrives.
    bool through = false;
    for (int i = 0; i < 40 && !through; ++i) {
      peer->sendTo(localPort, QByteArray("\xfe", 1));
      through = waitFor([&] { return !synth.received().empty(); }, 500);
    }
    ASSERT_TRUE(through);
    settle(300);
    synth.clear();
  }
  void receive(std::initializer_list<MidiBytes> messages) {
    for (const auto& m : messages)
      peer->sendTo(localPort, QByteArray(reinterpret_cast<const char*>(m.data()), qsizetype(m.size())));
    ASSERT_TRUE(waitFor([&] { return synth.received().size() >= messages.size(); }));
    synth.clear();
  }
  // The peer answers the probes until the link is up, then falls silent.
  void loseLink() {
    ASSERT_TRUE(waitFor([&] {
      if (auto probe = peerChat->receive(1); probe == QByteArray(1, '\x01'))
        peerChat->sendTo(localPort + 1, QByteArray(1, '\x02'));
      return side->status == protocol::LinkStatus::Connected;
    }, 10000));
    ASSERT_TRUE(waitFor([&] { return side->status == protocol::LinkStatus::NotConnected; }, 8000));
  }
  std::vector<MidiBytes> afterwards() {
    settle(300);
    return synth.received();
  }

  std::unique_ptr<Side> side;
  std::unique_ptr<RawPeer> peer, peerChat;
  int localPort = 0;
  JackSynth synth{"held-synth"};
};

}  // namespace

TEST_F(HeldNotesLink, ALostLinkReleasesExactlyWhatIsHeldOnce) {
  receive({{0x90, 60, 100},                 // held
           {0x90, 62, 100}, {0x90, 62, 0},  // velocity 0 ends it
           {0x91, 64, 90},  {0x81, 64, 0},  // note-off ends it
           {0x92, 67, 80},  {0xB2, 123, 0}, // all notes off clears channel 3
           {0xB3, 64, 127},                 // pedal down on channel 4
           {0xEF, 0x00, 0x50}});            // bend up on channel 16
  loseLink();
  EXPECT_EQ(afterwards(), (std::vector<MidiBytes>{{0x80, 60, 0}, {0xB3, 64, 0}, {0xEF, 0x00, 0x40}}));
  // Released once: a panic and Stop send nothing more.
  synth.clear();
  EXPECT_EQ(side->link.panic(), midi::Released{});
  side->link.stop();
  EXPECT_TRUE(afterwards().empty());
}

TEST_F(HeldNotesLink, StopAndPanicReleaseButNothingIsSentWhenNothingIsHeld) {
  receive({{0x95, 70, 64}, {0xE0, 0x00, 0x40}, {0xB5, 64, 64}});  // bend at centre
  EXPECT_EQ(side->link.panic(), (midi::Released{1, 2}));  // one note-off and the pedal
  EXPECT_EQ(afterwards(), (std::vector<MidiBytes>{{0x85, 70, 0}, {0xB5, 64, 0}}));
  synth.clear();
  EXPECT_EQ(side->link.panic(), midi::Released{});
  EXPECT_TRUE(afterwards().empty());

  receive({{0x9A, 20, 64}});
  side->link.stop();
  EXPECT_EQ(afterwards(), (std::vector<MidiBytes>{{0x8A, 20, 0}}));
}

// A keyboard on our input: its notes reach our output through thru and the peer
// over the link. Panic releases both, and says so; Stop and exit release the thru's.
TEST_F(HeldNotesLink, ThruNotesAndNotesSentToThePeerAreReleasedByPanicStopAndExit) {
  JackKeyboard keyboard("held-kb");
  ASSERT_TRUE(keyboard.connect(keyboard.port(), "HeldB:in"));
  ASSERT_TRUE(waitFor([&] {
    keyboard.play({{0xFE}});
    return synth.waitFor(1, std::chrono::milliseconds(100));
  }));
  const auto play = [&](const std::vector<MidiBytes>& messages) {
    settle(100);
    synth.clear();
    while (peer->receive(50)) {
    }
    keyboard.play(messages);
    ASSERT_TRUE(synth.waitFor(messages.size()));
    for (std::size_t k = 0; k < messages.size(); ++k) ASSERT_TRUE(peer->receive());
    synth.clear();
  };
  play({{0x90, 50, 90}, {0x90, 51, 90}, {0x80, 51, 0}, {0xB1, 64, 127}});
  EXPECT_EQ(side->link.panic(), (midi::Released{1, 2, 1}));
  EXPECT_EQ(afterwards(), (std::vector<MidiBytes>{{0x80, 50, 0}, {0xB1, 64, 0}}));
  EXPECT_EQ(peer->receive(), QByteArray("\x80\x32\x00", 3));
  EXPECT_EQ(peer->receive(), QByteArray("\xB1\x40\x00", 3));
  EXPECT_EQ(side->link.panic(), midi::Released{});

  play({{0x92, 52, 90}});
  side->link.stop();
  EXPECT_EQ(afterwards(), (std::vector<MidiBytes>{{0x82, 52, 0}}));
  ASSERT_TRUE(side->start(true));
  play({{0x93, 53, 90}});
  side->link.shutDown();  // the end of the program
  EXPECT_EQ(afterwards(), (std::vector<MidiBytes>{{0x83, 53, 0}}));
}

TEST(HeldNotes, SystemResetAndControllerResetForgetWhatTheyEnd) {
  midi::HeldNotes held;
  const auto m = [](std::uint8_t s, std::uint8_t d1, std::uint8_t d2) { return midi::ShortMessage::withStatusSize(s, d1, d2); };
  held.track(m(0xE1, 0, 0));
  held.track(m(0xB1, 64, 100));
  held.track(m(0xB1, 121, 0));
  EXPECT_TRUE(held.empty());
  held.track(m(0x99, 36, 100));
  EXPECT_FALSE(held.empty());
  held.track(m(0xFF, 0, 0));
  EXPECT_TRUE(held.empty());
  EXPECT_EQ(held.release([](const midi::ShortMessage&) { ADD_FAILURE() << "nothing is held"; }), midi::Released{});
}
