// Link figures: the arithmetic over a minute of probes, and real probes on
// loopback answered by a peer that replies at once or to every other probe.
#include <gtest/gtest.h>

#include <cstdio>

#include "net/connection_check.h"
#include "net/endpoints.h"
#include "net/link_quality.h"
#include "session/headless.h"
#include "support/side.h"
#include "support/stub_midi.h"

using namespace strandlink;
using namespace strandlink::test;
using net::LinkQuality;
using namespace std::chrono_literals;

TEST(LinkFigures, MedianJitterAndLossOverTheLastMinute) {
  LinkQuality q;
  const auto t0 = LinkQuality::Clock::time_point{} + 1h;
  auto round = [&](std::chrono::seconds at, std::optional<std::chrono::milliseconds> rtt) {
    q.probeSent(t0 + at);
    if (rtt) q.replyArrived(t0 + at + *rtt);
    else q.tickUnanswered(t0 + at + 1s);
  };
  round(0s, 100ms);  // leaves the window below
  round(10s, 2ms);
  round(11s, 6ms);
  round(12s, std::nullopt);
  round(13s, 4ms);
  q.replyArrived(t0 + 14s);  // stray: no probe outstanding
  auto f = q.figures(t0 + 20s);
  EXPECT_EQ(f.answered, 4);
  EXPECT_EQ(f.lost, 1);
  EXPECT_DOUBLE_EQ(f.lastMs, 4.0);
  EXPECT_DOUBLE_EQ(f.medianMs, 5.0);                    // of 2, 4, 6, 100
  EXPECT_DOUBLE_EQ(f.jitterMs, (98.0 + 4.0 + 2.0) / 3);  // |2-100|, |6-2|, |4-6|

  f = q.figures(t0 + 65s);
  EXPECT_EQ(f.answered, 3);
  EXPECT_DOUBLE_EQ(f.medianMs, 4.0);
  EXPECT_DOUBLE_EQ(f.jitterMs, 3.0);
  EXPECT_DOUBLE_EQ(f.lossShare(), 0.25);
  EXPECT_EQ(net::formatLinkQuality(f, 0), "Link: rtt 4.0 ms (median 4.0 ms), jitter 3.0 ms, lost 25%");
  EXPECT_EQ(net::formatLinkQuality(q.figures(t0 + 200s), 2), QString());
}

namespace {

struct LinkProbes : ::testing::Test {
  void SetUp() override {
    local = freePortPair();
    const int remote = freePortPair();
    side = std::make_unique<Side>(std::make_unique<StubMidiService>());
    side->configure(local, remote);
    ASSERT_FALSE(net::OpenUdpEndpoints(side->session));
    peerChat = std::make_unique<RawPeer>(remote + 1);
    net::tmrCeckConnection_Timer(side->session);  // the first tick only arms the probe
  }
  // One probe; the peer answers it or lets the next tick find it unanswered.
  void probe(bool answer) {
    net::tmrCeckConnection_Timer(side->session);
    const auto got = peerChat->receive();
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(*got, QByteArray("\x01", 1));
    if (answer) {
      peerChat->sendTo(local + 1, QByteArray("\x02", 1));
      ASSERT_TRUE(waitFor([&] { return side->state.ReadyToProbe; }));
    } else {
      net::tmrCeckConnection_Timer(side->session);
    }
  }
  LinkQuality::Figures figures() { return side->session.link.figures(LinkQuality::Clock::now()); }

  int local = 0;
  std::unique_ptr<Side> side;
  std::unique_ptr<RawPeer> peerChat;
};

}  // namespace

TEST_F(LinkProbes, APromptPeerGivesSmallFiguresAndNoLoss) {
  for (int i = 0; i < 6; ++i) probe(true);
  const auto f = figures();
  EXPECT_EQ(f.answered, 6);
  EXPECT_EQ(f.lost, 0);
  // Answered within the tick by construction; zero would mean nothing was timed.
  EXPECT_GT(f.medianMs, 0.0);
  EXPECT_LT(f.medianMs, 1000.0);
  EXPECT_LT(f.jitterMs, 1000.0);
  EXPECT_TRUE(side->view.linkQuality.startsWith("Link: rtt ")) << side->view.linkQuality.toStdString();
  EXPECT_TRUE(side->view.linkQuality.endsWith("lost 0%"));
}

TEST_F(LinkProbes, APeerAnsweringHalfTheProbesLosesHalf) {
  for (int i = 0; i < 10; ++i) probe(i % 2 == 0);
  const auto f = figures();
  EXPECT_EQ(f.answered, 5);
  EXPECT_EQ(f.lost, 5);
  EXPECT_TRUE(side->view.linkQuality.endsWith("lost 50%")) << side->view.linkQuality.toStdString();
}

TEST(HeadlessLinkLine, PrintsOnlyChangesAndNotMoreOftenThanItsInterval) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  HeadlessView view(out);
  view.setLinkQuality("Link: a");
  view.setLinkQuality("Link: a");
  view.setLinkQuality("Link: b");  // a change, but too soon after the last line
  view.setLinkQuality(QString());
  std::rewind(out);
  char buffer[256] = {};
  const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
  EXPECT_EQ(std::string(buffer, n), "Link: a\n");
  std::fclose(out);
}
