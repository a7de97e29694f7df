// Devices that go away during a session and come back: JACK clients whose ports
// vanish and reappear under the same name.
#include <gtest/gtest.h>

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
    side->configure(local, peer->port());
    side->settings.inputPosition = entryOf(side->link.devices().inputs, "stage-kb:out");
    side->settings.outputPosition = entryOf(side->link.devices().outputs, "stage-synth:in");
    ASSERT_GT(side->settings.inputPosition, 0);
    ASSERT_GT(side->settings.outputPosition, 0);
    ASSERT_TRUE(side->start()) << side->boxes.texts().join("; ").toStdString();
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
    for (int i = 0; i < times; ++i) side->link.checkDevices();
  }

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
  check(3);
  ASSERT_EQ(side->boxes.boxes.size(), 1);
  EXPECT_EQ(side->boxes.boxes[0].title, "Device Error");
  EXPECT_TRUE(side->boxes.boxes[0].text.startsWith("Midi Input: stage-kb:out :  The MIDI port is no longer there."));

  keyboard = std::make_unique<JackKeyboard>("stage-kb");
  ASSERT_TRUE(keyboard->ok());
  check();
  EXPECT_TRUE(keyboardReachesPeer());
  // Gone a second time: a second report, not before.
  keyboard.reset();
  check(2);
  EXPECT_EQ(side->boxes.boxes.size(), 2);
}

TEST_F(DeviceReturn, AnOutputThatGoesIsReopenedWhenBackAndStopStaysClean) {
  ASSERT_TRUE(peerReachesSynth());
  synth.reset();
  check(3);
  ASSERT_EQ(side->boxes.boxes.size(), 1);
  EXPECT_TRUE(side->boxes.boxes[0].text.startsWith("Midi Output: stage-synth:in :  "));

  synth = std::make_unique<JackSynth>("stage-synth");
  ASSERT_TRUE(synth->ok());
  check();
  EXPECT_TRUE(peerReachesSynth());
  side->link.stop();
  EXPECT_EQ(side->boxes.boxes.size(), 1);
}
