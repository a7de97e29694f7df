// The words of the link's figures, from the numbers each protocol measures: the
// classic link's probes over the last minute, an RTP session's, a multicast group's.
#include <arpa/inet.h>

#include <gtest/gtest.h>

#include "link/status_text.h"
#include "net/udp_socket.h"
#include "protocol/classic/link_quality.h"
#include "support/qt_printers.h"

using namespace strandlink;
using protocol::classic::LinkQuality;
using protocol::classic::linkFigures;
using protocol::LinkFigures;
using protocol::LinkStatus;
using namespace std::chrono_literals;

TEST(LinkFigures, MedianJitterAndLossOverTheLastMinute) {
  LinkQuality q;
  const auto t0 = LinkQuality::Clock::time_point{} + 1h;
  auto round = [&](std::chrono::seconds at, std::optional<std::chrono::milliseconds> rtt) {
    q.probeSent(t0 + at);
    if (rtt) q.replyArrived(t0 + at + *rtt);
    else q.tickUnanswered(t0 + at + 1s);
  };
  q.probeSent(t0 - 2s);  // the peer was not up yet: no loss
  q.tickUnanswered(t0 - 1s);
  EXPECT_EQ(link::figuresSummary(linkFigures(q.figures(t0), LinkStatus::NotConnected, 0)), QString());
  round(0s, 100ms);  // leaves the window below
  round(10s, 2ms);
  round(11s, 6ms);
  round(12s, std::nullopt);
  round(13s, 4ms);
  q.replyArrived(t0 + 14s);  // stray: no probe outstanding
  auto f = q.figures(t0 + 20s);
  EXPECT_EQ(f.answered, 4);
  EXPECT_EQ(f.lost, 1);
  EXPECT_DOUBLE_EQ(f.medianMs, 5.0);                    // of 2, 4, 6, 100
  EXPECT_DOUBLE_EQ(f.jitterMs, (98.0 + 4.0 + 2.0) / 3);  // |2-100|, |6-2|, |4-6|
  f = q.figures(t0 + 65s);
  EXPECT_EQ(f.answered, 3);
  const auto connected = linkFigures(f, LinkStatus::Connected, 0);
  EXPECT_EQ(link::figuresText(connected), "Link: rtt 4.0 ms (median 4.0 ms), jitter 3.0 ms, lost 25%");
  // While not connected the last round trip is history, not a figure of the link.
  EXPECT_EQ(link::figuresSummary(connected), "Round trip 4.0 ms, 25% lost");
  EXPECT_EQ(link::figuresSummary(linkFigures(f, LinkStatus::NotConnected, 0)), "No answer, 25% lost");
  round(150s, std::nullopt);
  EXPECT_EQ(link::figuresText(linkFigures(q.figures(t0 + 200s), LinkStatus::Connected, 2)),
            "Link: no answer, lost 100%, refused 2");
  EXPECT_EQ(link::figuresText(linkFigures(q.figures(t0 + 300s), LinkStatus::Connected, 2)), QString());
}

TEST(LinkFigures, ASessionSaysItsBestClockExchangeAndTheRepairsAndNoRoundTripWhileDown) {
  LinkFigures f{protocol::Measure::Session, {}, {}};
  EXPECT_EQ(link::figuresText(f), QString());
  f.peers.resize(1);
  f.peers[0].packetsLost = 3;
  EXPECT_EQ(link::figuresSummary(f), QString());  // no clock exchange yet
  f.peers[0].roundTripMs = 0.4;
  f.peers[0].clockOffsetMs = -12.5;
  f.link.status = LinkStatus::Connected;
  f.link.refused = 2;
  f.link.repairs = {1, 2, 3, 4};
  EXPECT_EQ(link::figuresText(f), "Link: rtt 0.4 ms, clock offset -12.5 ms, lost 3 packets, refused 2; repaired 1 "
                                  "gaps (2 packets lost), 3 notes ended, 4 values restored");
  EXPECT_EQ(link::figuresSummary(f), "Round trip 0.4 ms, 3 packets lost");
  f.link.status = LinkStatus::NotConnected;
  EXPECT_EQ(link::figuresSummary(f), "No session, 3 packets lost");

  // Several participants: each by name and address, and the status line counts them.
  f.link.refused = 0;
  f.peers.resize(2);
  f.peers[0].name = QStringLiteral("iPad");
  f.peers[0].address = net::makeAddress(inet_addr("10.0.0.2"), 5005);
  f.peers[1].name = QStringLiteral("Mac\n");
  f.peers[1].address = net::makeAddress(inet_addr("10.0.0.3"), 5007);
  EXPECT_EQ(link::figuresText(f), "Link: 2 peers: iPad at 10.0.0.2:5005 rtt 0.4 ms, lost 3 packets; Mac\\x0a at "
                                  "10.0.0.3:5007, lost 0 packets; repaired 1 gaps (2 packets lost), 3 notes ended, "
                                  "4 values restored");
  f.link.status = LinkStatus::Connected;
  EXPECT_EQ(link::figuresSummary(f), "2 peers, round trip up to 0.4 ms, 3 packets lost");
  link::LinkState state;
  state.running = true;
  state.status = LinkStatus::Connected;
  state.linked = 3;
  EXPECT_EQ(link::statusWords(state).text, "Connected: 3 peers");
}

TEST(LinkFigures, AGroupNamesEightMembersInTheOrderGivenAndCountsTheRest) {
  LinkFigures f{protocol::Measure::Group, {}, {}};
  EXPECT_EQ(link::figuresSummary(f), QString());  // nothing sent or heard
  f.link.datagramsOut = 5;
  f.link.messagesOut = 6;
  EXPECT_EQ(link::figuresText(f),
            "Link: no peer heard, in 0 datagrams / 0 messages, out 5 datagrams / 6 messages, 0 dropped as garbage");
  for (std::uint16_t i = 1; i <= 10; ++i) {
    protocol::PeerFigures& peer = f.peers.emplace_back();
    peer.address.sin_addr.s_addr = htonl(0x0A000000u + i);
    peer.address.sin_port = htons(std::uint16_t(40000 + i));
  }
  f.link.dropped = 7;
  EXPECT_EQ(link::figuresSummary(f), "No peer heard, 7 dropped");  // none heard lately enough to count
  f.link.status = LinkStatus::Connected;
  EXPECT_EQ(link::figuresSummary(f), "10 peers heard, 7 dropped");
  EXPECT_TRUE(link::figuresText(f).startsWith(
      "Link: 10 peers heard (10.0.0.1:40001, 10.0.0.2:40002, 10.0.0.3:40003, 10.0.0.4:40004, 10.0.0.5:40005, "
      "10.0.0.6:40006, 10.0.0.7:40007, 10.0.0.8:40008, 2 more), in 0 datagrams"));
  f.peers.resize(1);
  EXPECT_EQ(link::figuresSummary(f), "1 peer heard, 7 dropped");
}
