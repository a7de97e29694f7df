// The connection check: its rhythm and the probes' figures driven tick by tick, and
// two links on loopback that find each other, hear replies from anyone, answer
// the configured peer and notice when replies stop.
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "protocol/classic/connection_monitor.h"
#include "support/real_part.h"
#include "support/side.h"

using namespace strandlink;
using namespace strandlink::test;
using protocol::classic::LinkQuality;
using protocol::LinkStatus;

namespace {

// A monitor whose control bytes are only counted.
struct Monitor {
  protocol::classic::ConnectionMonitor m{[this] { ++probes; }, [this] { ++replies; },
                            [this](LinkStatus s) { changes.push_back(s); }};
  int probes = 0, replies = 0;
  std::vector<LinkStatus> changes;
};

}  // namespace

TEST(ConnectionMonitor, ProbesEverySecondTickWithoutAnswerAndConnectsOnAnyReply) {
  Monitor t;
  std::vector<int> probesAfterTick;
  for (int tick = 0; tick < 5; ++tick) {
    t.m.tick();
    probesAfterTick.push_back(t.probes);
  }
  // The first tick after the program starts finds "no probe due" and only arms it.
  EXPECT_EQ(probesAfterTick, (std::vector<int>{0, 1, 1, 2, 2}));
  EXPECT_TRUE(t.changes.empty());  // not connected all along: no change to tell
  t.m.controlByte(0x41);           // neither probe nor reply
  t.m.controlByte(protocol::classic::kProbeByte);
  EXPECT_EQ(t.replies, 1);
  EXPECT_EQ(t.m.status(), LinkStatus::NotConnected);
  t.m.controlByte(protocol::classic::kReplyByte);  // a reply after the unanswered tick connects at once
  EXPECT_EQ(t.changes, std::vector{LinkStatus::Connected});
  t.m.tick();  // the reply made a probe due again
  EXPECT_EQ(t.probes, 3);
  t.m.tick();  // unanswered: the fall
  EXPECT_EQ(t.changes, (std::vector{LinkStatus::Connected, LinkStatus::NotConnected}));
  t.m.sessionEnded();
  EXPECT_EQ(t.changes.size(), 2u);
}

TEST(ConnectionMonitor, FiguresCountAnsweredAndLostProbes) {
  Monitor t;
  t.m.tick();
  for (int i = 0; i < 10; ++i) {
    t.m.tick();
    if (i % 2 == 0) {
      t.m.controlByte(protocol::classic::kReplyByte);
    } else {
      t.m.tick();
    }
  }
  const auto f = t.m.quality().figures(LinkQuality::Clock::now());
  EXPECT_EQ(f.answered, 5);
  EXPECT_EQ(f.lost, 5);
}

namespace {

class TwoLinks : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
    pa = freePortPair();
    pb = freePortPair();
    a = makeSide("CheckA", pa, pb);
    ASSERT_TRUE(a->start()) << a->boxes.texts().join("; ").toStdString();
  }
  int pa = 0, pb = 0;
  std::unique_ptr<Side> a, b;
};

}  // namespace

TEST_F(TwoLinks, BothConnectAndTheFallIsSeenWhenTheOtherSideStops) {
  b = makeSide("CheckB", pb, pa);
  ASSERT_TRUE(b->start());
  QSignalSpy figures(&a->link, &link::Link::figuresChanged);
  EXPECT_TRUE(waitFor([&] { return a->status == LinkStatus::Connected && b->status == LinkStatus::Connected; }, 10000));
  EXPECT_TRUE(waitFor([&] { return !figures.isEmpty() && figures.last()[0].toString().startsWith("Link: rtt "); }));
  b->link.stop();
  // Two ticks after the last reply (the deadline only bounds a wait).
  EXPECT_TRUE(waitFor([&] { return a->status == LinkStatus::NotConnected; }, 8000));
  EXPECT_TRUE(a->boxes.boxes.isEmpty() && b->boxes.boxes.isEmpty());
  EXPECT_TRUE(a->chat.isEmpty());  // control bytes are no chat
}

TEST_F(TwoLinks, RepliesCountFromAnyoneAndProbesAreAnsweredToTheConfiguredPeer) {
  RawPeer peerChat(pb + 1), third(freePortPair());
  third.sendTo(pa + 1, QByteArray(1, '\x02'));
  EXPECT_TRUE(waitFor([&] { return a->status == LinkStatus::Connected; }));
  third.sendTo(pa + 1, QByteArray(1, '\x01'));
  // The peer also gets our own probes; among them, the reply.
  bool replied = false;
  for (int i = 0; i < 4 && !replied; ++i) replied = peerChat.receive() == QByteArray(1, '\x02');
  EXPECT_TRUE(replied);
  EXPECT_FALSE(third.receive(200).has_value());
}
