// Devices that go away during a session and come back: JACK clients whose ports
// vanish and reappear under the same name. Stop then tears nothing down that a
// process cycle may still read.
#include <gtest/gtest.h>

#include "midi/device_watch.h"
#include "midi/devices.h"
#include "session/session_control.h"
#include "support/jack_client.h"
#include "support/side.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

int entryOf(const std::vector<std::string>& caps, const std::string& name) {
  for (std::size_t k = 0; k < caps.size(); ++k)
    if (caps[k] == name) return int(k);
  return -1;
}

class DeviceReturn : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!jackAvailable()) GTEST_SKIP() << "no JACK server runs (scripts/test.sh starts one)";
    keyboard = std::make_unique<JackKeyboard>("stage-kb");
    synth = std::make_unique<JackSynth>("stage-synth");
    ASSERT_TRUE(keyboard->ok() && synth->ok());
    local = freePortPair();
    peer = std::make_unique<RawPeer>(freePortPair());
    side = std::make_unique<Side>(midi::makeMidiService("ReturnSide"));
    midi::ListMidiDevices(side->session);
    side->configure(local, peer->port());
    const int in = entryOf(side->state.MidiInCaps, "stage-kb:out");
    const int out = entryOf(side->state.MidiOutCaps, "stage-synth:in");
    ASSERT_GT(in, 0);
    ASSERT_GT(out, 0);
    side->state.MidiInDeviceId = in;
    side->state.MidiOutDeviceId = out - 1;
    ASSERT_TRUE(cmdStart_Click(side->session)) << side->boxes.texts().join("; ").toStdString();
  }
  void TearDown() override {
    if (side && side->view.running) StopSession(side->session);
  }
  // Active sensing from the keyboard until the peer gets one datagram.
  bool keyboardReachesPeer() {
    for (int i = 0; i < 40; ++i) {
      keyboard->play({{0xFE}});
      if (peer->receive(500)) return true;
    }
    return false;
  }
  // Active sensing from the peer until the synth plays one.
  bool peerReachesSynth() {
    for (int i = 0; i < 40; ++i) {
      peer->sendTo(local, QByteArray("\xfe", 1));
      if (waitFor([&] { return !synth->received().empty(); }, 500)) return true;
    }
    return false;
  }
  void check(int times = 1) {
    for (int i = 0; i < times; ++i) midi::CheckMidiDevices(side->session);
  }
  // The server takes a port away or registers it on its own time: check until the
  // watch has seen it, as its timer would.
  bool checkUntil(const std::function<bool()>& seen) {
    return waitFor([&] {
      check();
      return seen();
    });
  }
  bool reportedTimes(int n) { return side->boxes.boxes.size() == n; }

  std::unique_ptr<JackKeyboard> keyboard;
  std::unique_ptr<JackSynth> synth;
  std::unique_ptr<RawPeer> peer;
  std::unique_ptr<Side> side;
  int local = 0;
};

}  // namespace

TEST_F(DeviceReturn, AnInputThatGoesIsReportedOnceAndReopenedWhenBack) {
  ASSERT_TRUE(keyboardReachesPeer());
  check(2);
  EXPECT_TRUE(side->boxes.boxes.isEmpty());

  keyboard.reset();
  ASSERT_TRUE(checkUntil([&] { return reportedTimes(1); }));
  check(2);
  ASSERT_EQ(side->boxes.boxes.size(), 1);
  EXPECT_EQ(side->boxes.boxes[0].title, "Device Error");
  EXPECT_TRUE(side->boxes.boxes[0].text.startsWith("Midi Input: stage-kb:out :  The MIDI port is no longer there."));

  keyboard = std::make_unique<JackKeyboard>("stage-kb");
  ASSERT_TRUE(keyboard->ok());
  ASSERT_TRUE(checkUntil([&] { return !side->session.inputGone; }));
  EXPECT_TRUE(keyboardReachesPeer());
  // Gone a second time: a second report, not before.
  keyboard.reset();
  EXPECT_TRUE(checkUntil([&] { return reportedTimes(2); }));
}

TEST_F(DeviceReturn, AnOutputThatGoesIsReopenedWhenBackAndStopStaysClean) {
  ASSERT_TRUE(peerReachesSynth());
  synth.reset();
  ASSERT_TRUE(checkUntil([&] { return reportedTimes(1); }));
  check(2);
  ASSERT_EQ(side->boxes.boxes.size(), 1);
  EXPECT_TRUE(side->boxes.boxes[0].text.startsWith("Midi Output: stage-synth:in :  "));

  synth = std::make_unique<JackSynth>("stage-synth");
  ASSERT_TRUE(synth->ok());
  ASSERT_TRUE(checkUntil([&] { return !side->session.outputGone; }));
  EXPECT_TRUE(peerReachesSynth());
  StopSession(side->session);
  EXPECT_EQ(side->boxes.boxes.size(), 1);
  EXPECT_EQ(side->state.hMidiOut.load(), nullptr);
}
