// The statistics switch and the counters behind it, with real sockets.
#include <gtest/gtest.h>

#include "net/endpoints.h"
#include "net/midi_datagrams.h"
#include "session/statistics.h"
#include "support/side.h"
#include "support/stub_midi.h"

using namespace strandlink;
using namespace strandlink::test;

TEST(Statistics, BoxesFollowTheSwitchAndShowTotalsFromTheNextEventOn) {
  const int pa = freePortPair(), peerPort = freePortPair();
  Side a(std::make_unique<StubMidiService>());
  a.configure(pa, peerPort);
  ASSERT_FALSE(net::OpenUdpEndpoints(a.session));
  RawPeer peer(peerPort);
  const std::uint8_t note[3] = {0x90, 0x3C, 0x64};
  auto sent = [&] { return a.view.text(TextControl::txtSent); };
  auto recv = [&] { return a.view.text(TextControl::txtRecv); };

  a.view.setChecked(CheckControl::chkUpdateStats, true);
  chkUpdateStats_Click(a.session);
  for (int i = 0; i < 5; ++i) net::SendMidiMessage(a.session, note);
  EXPECT_TRUE(waitFor([&] { return sent() == "5"; }));
  peer.sendTo(pa, QByteArray("\xf8", 1));
  EXPECT_TRUE(waitFor([&] { return recv() == "1"; }));

  a.view.setChecked(CheckControl::chkUpdateStats, false);
  chkUpdateStats_Click(a.session);
  EXPECT_EQ(sent(), "");
  EXPECT_EQ(recv(), "");
  // Counting goes on with the display off.
  net::SendMidiMessage(a.session, note);
  settle(100);
  EXPECT_EQ(sent(), "");
  EXPECT_EQ(a.state.MidiEventsSent.load(), 6.0);

  a.view.setChecked(CheckControl::chkUpdateStats, true);
  chkUpdateStats_Click(a.session);
  EXPECT_EQ(sent(), "");
  net::SendMidiMessage(a.session, note);
  EXPECT_TRUE(waitFor([&] { return sent() == "7"; }));
  EXPECT_EQ(recv(), "");  // until the next received datagram
  peer.sendTo(pa, QByteArray());  // an empty datagram is not counted
  settle(100);
  EXPECT_EQ(recv(), "");
  EXPECT_EQ(a.state.MidiEventsReceived.load(), 1.0);
}

TEST(Statistics, FailedSendsAreCountedAndReportedWithoutStacking) {
  Side a(std::make_unique<StubMidiService>());
  // No socket: every send fails, as when no route leads to the peer.
  a.state.hSocketMidiData = -1;
  const std::uint8_t clock[3] = {0xF8, 0, 0};
  int shownWhileOpen = 0;
  a.boxes.whileOpen = [&] {
    // More failures while the box is open are held back, not stacked.
    net::SendMidiMessage(a.session, clock);
    a.session.wake.drain();
    shownWhileOpen = int(a.boxes.boxes.size());
  };
  for (int i = 0; i < 3; ++i) net::SendMidiMessage(a.session, clock);
  a.session.wake.drain();
  EXPECT_EQ(a.state.MidiEventsSent.load(), 4.0);
  ASSERT_EQ(a.boxes.boxes.size(), 1);
  EXPECT_EQ(shownWhileOpen, 1);
  EXPECT_EQ(a.boxes.boxes[0].title, "Network Error");
  EXPECT_EQ(a.boxes.boxes[0].text, "Tried to send MIDI data:  Socket operation on nonsocket.");
}

TEST(Statistics, CountsArePlainIntegers) {
  EXPECT_EQ(formatCount(0), "0");
  EXPECT_EQ(formatCount(1234567), "1234567");
  EXPECT_EQ(formatCount(12345678901234.0), "12345678901234");
}
