// Notes the peer left sounding are released on a lost link, Stop and panic,
// through a real JACK synth listening to the receiving side's output.
#include <gtest/gtest.h>

#include "midi/devices.h"
#include "midi/held_notes.h"
#include "net/connection_check.h"
#include "session/session_control.h"
#include "support/jack_client.h"
#include "support/side.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

class HeldNotesLink : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!jackAvailable()) GTEST_SKIP() << "no JACK server runs (scripts/test.sh starts one)";
    const int local = freePortPair();
    peer = std::make_unique<RawPeer>(freePortPair());
    side = std::make_unique<Side>(midi::makeMidiService("HeldB"));
    midi::ListMidiDevices(side->session);
    side->configure(local, peer->port());
    ASSERT_TRUE(cmdStart_Click(side->session)) << side->boxes.texts().join("; ").toStdString();
    localPort = local;
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
  void TearDown() override {
    if (side && side->view.running) StopSession(side->session);
  }
  void receive(std::initializer_list<MidiBytes> messages) {
    for (const auto& m : messages) peer->sendTo(localPort, QByteArray(reinterpret_cast<const char*>(m.data()), qsizetype(m.size())));
    ASSERT_TRUE(waitFor([&] { return synth.received().size() >= messages.size(); }));
    synth.clear();
  }
  // The connection check's fall from "Connected" to "Not Connected".
  void loseLink() {
    side->view.setText(TextControl::lblConnectStatus, QStringLiteral("Connected"));
    side->state.ReadyToProbe = false;
    net::tmrCeckConnection_Timer(side->session);
  }
  std::vector<MidiBytes> afterwards() {
    settle(300);
    return synth.received();
  }

  std::unique_ptr<Side> side;
  std::unique_ptr<RawPeer> peer;
  int localPort = 0;
  JackSynth synth{"held-synth"};
};

}  // namespace

TEST_F(HeldNotesLink, ALostLinkReleasesExactlyWhatIsHeld) {
  receive({{0x90, 60, 100},     // held
           {0x90, 62, 100}, {0x90, 62, 0},    // velocity 0 ends it
           {0x91, 64, 90},  {0x81, 64, 0},    // note-off ends it
           {0x92, 67, 80},  {0xB2, 123, 0},   // all notes off clears channel 3
           {0xB3, 64, 127},                   // pedal down on channel 4
           {0xEF, 0x00, 0x50}});              // bend up on channel 16
  loseLink();
  EXPECT_EQ(afterwards(), (std::vector<MidiBytes>{{0x80, 60, 0}, {0xB3, 64, 0}, {0xEF, 0x00, 0x40}}));
  // Released once: the next unanswered tick, a panic and Stop send nothing more.
  synth.clear();
  net::tmrCeckConnection_Timer(side->session);
  midi::ReleaseHeldNotes(side->session);
  StopSession(side->session);
  EXPECT_TRUE(afterwards().empty());
}

TEST_F(HeldNotesLink, StopAndPanicReleaseButNothingIsSentWhenNothingIsHeld) {
  receive({{0x90, 48, 1}, {0xE0, 0x00, 0x40}, {0xB0, 64, 10}});  // bend at centre, pedal up
  loseLink();
  EXPECT_EQ(afterwards(), (std::vector<MidiBytes>{{0x80, 48, 0}}));
  synth.clear();
  midi::ReleaseHeldNotes(side->session);  // panic with nothing held
  EXPECT_TRUE(afterwards().empty());

  receive({{0x95, 70, 64}, {0xB5, 64, 64}});
  midi::ReleaseHeldNotes(side->session);
  EXPECT_EQ(afterwards(), (std::vector<MidiBytes>{{0x85, 70, 0}, {0xB5, 64, 0}}));
  synth.clear();

  receive({{0x9A, 20, 64}});
  StopSession(side->session);
  EXPECT_EQ(afterwards(), (std::vector<MidiBytes>{{0x8A, 20, 0}}));
}

TEST(HeldNotes, SystemResetAndControllerResetForgetWhatTheyEnd) {
  midi::HeldNotes held;
  const std::uint8_t bend[3] = {0xE1, 0, 0}, pedal[3] = {0xB1, 64, 100}, reset[3] = {0xB1, 121, 0};
  held.track(bend);
  held.track(pedal);
  held.track(reset);
  EXPECT_TRUE(held.empty());
  const std::uint8_t note[3] = {0x99, 36, 100}, sysReset[3] = {0xFF, 0, 0};
  held.track(note);
  EXPECT_FALSE(held.empty());
  held.track(sysReset);
  EXPECT_TRUE(held.empty());
  EXPECT_EQ(held.release([](std::uint32_t) { ADD_FAILURE() << "nothing is held"; }), 0);
}
