// The connection check between two real endpoints on loopback, with the timer's
// ticks driven by hand.
#include <gtest/gtest.h>

#include "net/connection_check.h"
#include "net/endpoints.h"
#include "support/side.h"
#include "support/stub_midi.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

std::unique_ptr<Side> openSide(int localPort, int remotePort) {
  auto side = std::make_unique<Side>(std::make_unique<StubMidiService>());
  side->configure(localPort, remotePort);
  EXPECT_FALSE(net::OpenUdpEndpoints(side->session)) << side->boxes.texts().join("; ").toStdString();
  return side;
}

QString status(const Side& s) { return s.view.text(TextControl::lblConnectStatus); }

}  // namespace

TEST(ConnectionCheck, TwoSidesConfiguredForEachOtherBothConnect) {
  const int pa = freePortPair(), pb = freePortPair();
  auto a = openSide(pa, pb);
  auto b = openSide(pb, pa);
  // First tick after the program starts: nothing outstanding yet counts as unanswered.
  net::tmrCeckConnection_Timer(a->session);
  net::tmrCeckConnection_Timer(b->session);
  EXPECT_EQ(status(*a), "Not Connected");
  // Second tick probes; each side answers the other's probe.
  net::tmrCeckConnection_Timer(a->session);
  net::tmrCeckConnection_Timer(b->session);
  EXPECT_TRUE(waitFor([&] { return status(*a) == "Connected" && status(*b) == "Connected"; }));
  EXPECT_TRUE(a->state.ReadyToProbe);
  EXPECT_TRUE(a->boxes.boxes.isEmpty());
  // Chat history untouched by control bytes.
  EXPECT_TRUE(a->view.text(TextControl::txtReceive).isEmpty());
}

TEST(ConnectionCheck, SilentPeerGetsAProbeEverySecondTick) {
  const int pa = freePortPair(), peerPort = freePortPair();
  auto a = openSide(pa, peerPort);
  RawPeer peerChat(peerPort + 1);
  QList<bool> probed;
  for (int tick = 0; tick < 4; ++tick) {
    net::tmrCeckConnection_Timer(a->session);
    const auto got = peerChat.receive(tick % 2 == 1 ? 3000 : 150);
    probed << got.has_value();
    if (got) {
      EXPECT_EQ(*got, QByteArray(1, '\x01'));
    }
    EXPECT_EQ(status(*a), "Not Connected");
  }
  EXPECT_EQ(probed, (QList<bool>{false, true, false, true}));
}

TEST(ConnectionCheck, RepliesCountFromAnyoneAndProbesAreAnsweredToThePeer) {
  const int pa = freePortPair(), peerPort = freePortPair(), thirdPort = freePortPair();
  auto a = openSide(pa, peerPort);
  RawPeer peerChat(peerPort + 1);
  RawPeer third(thirdPort);

  // A lone byte that is neither probe nor reply changes nothing.
  third.sendTo(pa + 1, QByteArray(1, '\x41'));
  settle();
  EXPECT_EQ(status(*a), "Not Connected");
  EXPECT_TRUE(a->view.text(TextControl::txtReceive).isEmpty());

  // A third host's reply counts.
  third.sendTo(pa + 1, QByteArray(1, '\x02'));
  EXPECT_TRUE(waitFor([&] { return status(*a) == "Connected"; }));

  // A third host's probe is answered to the configured peer's chat port, not to it.
  third.sendTo(pa + 1, QByteArray(1, '\x01'));
  const auto reply = peerChat.receive();
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(*reply, QByteArray(1, '\x02'));
  EXPECT_FALSE(third.receive(200).has_value());
}

TEST(ConnectionCheck, ReplyAfterAnUnansweredTickConnectsAtOnce) {
  const int pa = freePortPair(), peerPort = freePortPair();
  auto a = openSide(pa, peerPort);
  RawPeer peer(peerPort);
  net::tmrCeckConnection_Timer(a->session);  // not connected, ready
  net::tmrCeckConnection_Timer(a->session);  // probe
  net::tmrCeckConnection_Timer(a->session);  // unanswered: not connected
  EXPECT_EQ(status(*a), "Not Connected");
  peer.sendTo(pa + 1, QByteArray(1, '\x02'));
  EXPECT_TRUE(waitFor([&] { return status(*a) == "Connected"; }));
}
