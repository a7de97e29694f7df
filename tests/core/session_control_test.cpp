// Start, Stop and their failure paths with real sockets and the real MIDI service
// (our own ports on the test JACK server).
#include <gtest/gtest.h>

#include "midi/devices.h"
#include "session/session_control.h"
#include "support/side.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

class SessionControl : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!jackAvailable()) GTEST_SKIP() << "no JACK server runs (scripts/test.sh starts one)";
    side = std::make_unique<Side>(midi::makeMidiService("SessionControlTest"));
    midi::ListMidiDevices(side->session);
    port = freePortPair();
    side->configure(port, freePortPair());
  }
  void TearDown() override {
    if (side && side->view.running) StopSession(side->session);
  }
  Session& s() { return side->session; }
  SessionState& st() { return side->state; }

  std::unique_ptr<Side> side;
  int port = 0;
};

}  // namespace

TEST_F(SessionControl, StartAndStopOpenAndCloseEverythingRepeatedly) {
  for (int round = 1; round <= 2; ++round) {
    ASSERT_TRUE(cmdStart_Click(s())) << side->boxes.texts().join("; ").toStdString();
    EXPECT_TRUE(side->view.running);
    EXPECT_GT(st().hSocketMidiData.load(), 0);
    EXPECT_GT(st().hSocketChatData.load(), 0);
    EXPECT_NE(st().hMidiIn.load(), nullptr);
    EXPECT_NE(st().hMidiOut.load(), nullptr);
    EXPECT_TRUE(s().tmrCeckConnection.isActive());
    EXPECT_EQ(s().tmrCeckConnection.interval(), 1000);

    // A datagram from anywhere is counted; the count carries over into the next session.
    RawPeer third(freePortPair());
    third.sendTo(port, QByteArray("\x90\x3c\x40", 3));
    EXPECT_TRUE(waitFor([&] { return st().MidiEventsReceived.load() == round; }));

    side->view.setText(TextControl::lblConnectStatus, "Connected");
    StopSession(s());
    EXPECT_FALSE(side->view.running);
    EXPECT_EQ(st().hMidiIn.load(), nullptr);
    EXPECT_EQ(st().hMidiOut.load(), nullptr);
    EXPECT_EQ(st().hSocketMidiData.load(), -1);
    EXPECT_EQ(st().hSocketChatData.load(), -1);
    EXPECT_FALSE(s().tmrCeckConnection.isActive());
    EXPECT_EQ(side->view.text(TextControl::lblConnectStatus), "Not Connected");
  }
  EXPECT_TRUE(side->boxes.boxes.isEmpty());
  EXPECT_EQ(side->view.events, (QStringList{"running", "idle", "running", "idle"}));
}

TEST_F(SessionControl, FailedBindClosesBothSocketsSoTheNextStartWorks) {
  {
    RawPeer holder(port);
    EXPECT_FALSE(cmdStart_Click(s()));
    ASSERT_EQ(side->boxes.boxes.size(), 1);
    EXPECT_EQ(side->boxes.boxes[0].title, "Network Error");
    EXPECT_EQ(side->boxes.boxes[0].text, "Tried to bind MIDI socket:  Address already in use.");
    EXPECT_FALSE(side->view.running);
    EXPECT_EQ(st().hSocketMidiData.load(), -1);
    EXPECT_EQ(st().hSocketChatData.load(), -1);
    EXPECT_EQ(st().hMidiIn.load(), nullptr);
  }
  EXPECT_TRUE(cmdStart_Click(s())) << side->boxes.texts().join("; ").toStdString();
}

TEST_F(SessionControl, DeviceNumbersWithoutAnEntryFailCleanly) {
  // What typed text in the lists leaves behind: no selection on either side.
  st().MidiInDeviceId = -1;
  st().MidiOutDeviceId = -2;
  EXPECT_FALSE(cmdStart_Click(s()));
  ASSERT_EQ(side->boxes.boxes.size(), 2);
  EXPECT_EQ(side->boxes.boxes[0].title, "Device Error");
  EXPECT_TRUE(side->boxes.boxes[0].text.startsWith("Midi Input:  :  ")) << side->boxes.boxes[0].text.toStdString();
  EXPECT_TRUE(side->boxes.boxes[1].text.startsWith("Midi Output: ")) << side->boxes.boxes[1].text.toStdString();
  EXPECT_GT(side->boxes.boxes[1].text.size(), QString("Midi Output: ").size());
  EXPECT_FALSE(side->view.running);
  EXPECT_EQ(st().hMidiIn.load(), nullptr);
  EXPECT_EQ(st().hMidiOut.load(), nullptr);
  EXPECT_EQ(st().hSocketMidiData.load(), -1);
  EXPECT_EQ(st().hSocketChatData.load(), -1);
}

TEST_F(SessionControl, RefusedStartsOpenNothing) {
  // Thru between two devices of the same name: the warning, once.
  st().MidiInCaps = {"Same Device"};
  st().MidiOutCaps = {"Same Device"};
  side->view.setListIndex(ListControl::InputDevCombo, 0);
  side->view.setListIndex(ListControl::OutputDevCombo, 0);
  side->view.setChecked(CheckControl::chkMidiThru, true);
  EXPECT_FALSE(cmdStart_Click(s()));
  ASSERT_EQ(side->boxes.boxes.size(), 1);
  EXPECT_EQ(side->boxes.boxes[0].title, "Strandlink Warning");
  EXPECT_EQ(st().hSocketMidiData.load(), 0);

  // An unacceptable port: its box, and still no socket.
  side->view.setChecked(CheckControl::chkMidiThru, false);
  side->view.setText(TextControl::txtPortLocal, "");
  EXPECT_FALSE(cmdStart_Click(s()));
  EXPECT_EQ(side->boxes.boxes.last().text, "Local Port value must be between 1 and 65535");
  EXPECT_EQ(st().hSocketMidiData.load(), 0);
  EXPECT_FALSE(side->view.running);
}
