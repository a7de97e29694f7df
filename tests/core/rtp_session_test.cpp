// Two session state machines back to back through an in-memory network with a fake
// clock: invitation, retries, refusal, restarts, glare, clock sync and the end of a
// peer that vanished, plus hand-made packets where one side alone is under test.
#include <gtest/gtest.h>

#include <random>

#include "support/session_network.h"

using namespace strandlink::protocol::rtp;
using strandlink::protocol::Verdict;
using strandlink::testing::isClockSync;
using strandlink::testing::isInvitation;
using strandlink::testing::SessionNetwork;

namespace {

constexpr Micros kSecond = 1'000'000;
const std::string kA = "10.0.0.1";
const std::string kB = "10.0.0.2";
const std::string kC = "10.0.0.3";
constexpr std::uint32_t kSsrcA = 0x1111, kSsrcB = 0x2222;

SessionConfig config(std::uint32_t ssrc, std::optional<std::string> remote = {}) {
  SessionConfig c;
  c.ssrc = ssrc;
  c.token = ssrc * 7;
  c.name = "host " + std::to_string(ssrc);
  if (remote) c.remote = SessionNetwork::control(*remote);
  return c;
}

// A invites, B only listens.
void inviterAndListener(SessionNetwork& net) {
  net.add(kA, config(kSsrcA, kB));
  net.add(kB, config(kSsrcB));
  net.start(kB);
  net.start(kA);
}

std::vector<SessionEvent> eventsOf(const SessionNetwork& net, const std::string& host) {
  std::vector<SessionEvent> out;
  for (const auto& e : net.events())
    if (e.host == host) out.push_back(e.event);
  return out;
}

Exchange invitation(std::uint32_t ssrc, std::uint32_t token) {
  return {ExchangeCommand::Invitation, kSessionProtocolVersion, token, ssrc, "stranger"};
}

bool isExchange(const Outgoing& o, ExchangeCommand command) {
  const auto* e = std::get_if<Exchange>(&o.packet);
  return e && e->command == command;
}

}  // namespace

TEST(RtpSession, InvitationsRetryEverySecondTwelveTimesThenEveryFiveSeconds) {
  SessionNetwork net;
  net.add(kA, config(kSsrcA, kB));
  net.start(kA);
  net.runFor(30 * kSecond);  // nobody at B yet
  std::vector<Micros> expected;
  for (int i = 0; i <= 12; ++i) expected.push_back(i * kSecond);
  for (Micros t = 17 * kSecond; t <= 30 * kSecond; t += 5 * kSecond) expected.push_back(t);
  EXPECT_EQ(net.sendTimes(kA, isInvitation), expected);
  // The peer binds its ports late: the next retry brings the session up.
  net.add(kB, config(kSsrcB));
  net.start(kB);
  net.runFor(5 * kSecond);
  EXPECT_EQ(net.firstEvent(kA, SessionEventKind::Up), 32 * kSecond + 4000);  // four legs of 1 ms
}

TEST(RtpSession, RefusesWithNoWhatTheAdmissionCheckDoesNotLetIn) {
  SessionNetwork net;
  net.add(kA, config(kSsrcA, kB));
  SessionConfig onlyC = config(kSsrcB);
  onlyC.admits = [](const PeerAddress& from, const std::string&) {
    return from.host == kC ? Verdict::Admit : Verdict::Refuse;
  };
  net.add(kB, onlyC);
  net.start(kB);
  net.start(kA);
  net.runFor(6 * kSecond + 500'000);
  EXPECT_EQ(net.at(kB).state(), SessionState::Listening);
  EXPECT_EQ(net.at(kA).state(), SessionState::InvitingControl);
  EXPECT_EQ(net.firstEvent(kA, SessionEventKind::Refused), 2000);
  // Refused, the inviter keeps asking, slowly.
  EXPECT_EQ(net.sendTimes(kA, isInvitation), (std::vector<Micros>{0, 5 * kSecond + 2000}));

  // One the user is to be asked about hears nothing and invites again; the retry
  // after the answer is let in.
  SessionNetwork asked;
  asked.add(kA, config(kSsrcA, kB));
  Verdict verdict = Verdict::Ask;
  SessionConfig asking = config(kSsrcB);
  asking.admits = [&verdict](const PeerAddress&, const std::string&) { return verdict; };
  asked.add(kB, asking);
  asked.start(kB);
  asked.start(kA);
  asked.runFor(3 * kSecond + 500'000);
  EXPECT_EQ(asked.firstEvent(kB, SessionEventKind::InviterWaits), 1000);
  EXPECT_FALSE(asked.firstEvent(kA, SessionEventKind::Refused));
  verdict = Verdict::Admit;
  asked.runFor(kSecond);
  EXPECT_EQ(asked.at(kA).state(), SessionState::Up);

  // A side with a remote admits that remote only; a busy side admits nobody else.
  SessionNetwork up;
  inviterAndListener(up);
  up.runFor(kSecond);
  for (const std::string& side : {kA, kB}) {
    Session& s = up.at(side);
    s.takeOutgoing();
    s.receive(SessionPort::Control, {kC, 5004}, invitation(0x3333, 99), up.localTime(side));
    const auto out = s.takeOutgoing();
    ASSERT_EQ(out.size(), 1u) << side;
    EXPECT_TRUE(isExchange(out[0], ExchangeCommand::Reject));
    EXPECT_EQ(out[0].to, (PeerAddress{kC, 5004}));
    EXPECT_EQ(std::get<Exchange>(out[0].packet).token, 99u);
    EXPECT_TRUE(s.connected());
    const auto events = s.takeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].refusal, side == kA ? Refusal::OnlyRemote : Refusal::Busy);
    EXPECT_EQ(events[0].inviterName, "stranger");
    EXPECT_EQ(events[0].inviter, (PeerAddress{kC, 5004}));
  }
  EXPECT_EQ(eventsOf(net, kB).back().refusal, Refusal::NotAdmitted);
}

TEST(RtpSession, HalfFinishedHandshakesDoNotHold) {
  // An inviter that never comes to the data port holds a listener for ten seconds
  // from its first invitation, however often it repeats it, and keeps no other
  // inviter out.
  Session b(config(kSsrcB));
  b.start(0);
  b.receive(SessionPort::Control, {kC, 5004}, invitation(0x3333, 99), 0);
  b.receive(SessionPort::Control, {kC, 5004}, invitation(0x3333, 99), 9 * kSecond);
  EXPECT_TRUE(isExchange(b.takeOutgoing().back(), ExchangeCommand::Accept));
  b.tick(10 * kSecond - 1);
  EXPECT_EQ(b.state(), SessionState::AwaitingData);
  b.tick(10 * kSecond);
  EXPECT_EQ(b.state(), SessionState::Listening);
  b.receive(SessionPort::Control, {kC, 5004}, invitation(0x3333, 99), 11 * kSecond);
  b.receive(SessionPort::Control, {kA, 5004}, invitation(kSsrcA, 5), 11 * kSecond);
  b.receive(SessionPort::Data, {kA, 5005}, invitation(kSsrcA, 5), 11 * kSecond);
  EXPECT_EQ(b.state(), SessionState::Up);
  EXPECT_EQ(b.peerSsrc(), kSsrcA);
  b.takeOutgoing();

  // One with a remote of its own goes back to inviting it.
  Session c(config(0x3333, kA));
  c.start(0);
  c.receive(SessionPort::Control, {kA, 5004}, invitation(kSsrcA, 5), 0);  // outranks ours
  c.takeOutgoing();
  c.tick(10 * kSecond);
  EXPECT_EQ(c.state(), SessionState::InvitingControl);
  ASSERT_EQ(c.takeOutgoing().size(), 1u);

  // An inviter accepted on the control port, whose peer then invites it, knows the
  // peer forgot that acceptance: it begins again rather than wait on the data port.
  Session a(config(kSsrcA, kB));
  a.start(0);
  const std::uint32_t token = std::get<Exchange>(a.takeOutgoing().at(0).packet).token;
  a.receive(SessionPort::Control, {kB, 5004}, Exchange{ExchangeCommand::Accept, 2, token, kSsrcB, "b"}, 1000);
  EXPECT_EQ(a.state(), SessionState::InvitingData);
  a.takeOutgoing();
  a.receive(SessionPort::Control, {kB, 5004}, invitation(kSsrcB, 77), 2000);
  EXPECT_EQ(a.state(), SessionState::InvitingControl);
  const auto again = a.takeOutgoing();
  ASSERT_EQ(again.size(), 1u);
  EXPECT_TRUE(isInvitation(again[0].packet) && again[0].to.port == 5004);

  // Without a session, a clock sync from the remote is answered with BY.
  a.receive(SessionPort::Data, {kB, 5005}, ClockSync{kSsrcB, 0, {5, 0, 0}}, 3000);
  const auto bye = a.takeOutgoing();
  ASSERT_EQ(bye.size(), 1u);
  EXPECT_TRUE(isExchange(bye[0], ExchangeCommand::End));
}

TEST(RtpSession, PeerRestartedAsAListenerIsToldToInviteAfresh) {
  SessionNetwork net;
  inviterAndListener(net);
  net.runFor(5 * kSecond);
  net.remove(kB);
  net.add(kB, config(0x5555));
  net.start(kB);
  // The next clock sync reaches a side that knows no session: it says BY, which
  // names no SSRC of the session and so ends nothing by itself, but has A ask at
  // once: the unanswered asks end it within a second, not after the silence.
  const Micros restarted = net.now();
  net.runFor(10 * kSecond);
  EXPECT_EQ(eventsOf(net, kA)[2], (SessionEvent{SessionEventKind::Down, DownReason::TimedOut}));
  const auto down = net.firstEvent(kA, SessionEventKind::Down);
  ASSERT_TRUE(down.has_value());
  EXPECT_LT(*down - restarted, kQuietBeforeAsking + kAnswerWait + kSecond);
  EXPECT_TRUE(net.at(kA).connected());
  EXPECT_EQ(net.at(kA).peerSsrc(), 0x5555u);
}

TEST(RtpSession, GlareEndsInOneSessionWithTheLowerSsrcInviting) {
  for (const Micros lag : {0, 300, 1000, 1700}) {
    for (const auto& [ssrcA, ssrcB] : {std::pair{kSsrcA, kSsrcB}, std::pair{kSsrcB, kSsrcA}}) {
      SCOPED_TRACE(testing::Message() << "lag " << lag << " ssrc A " << ssrcA);
      SessionNetwork net;
      net.add(kA, config(ssrcA, kB));
      net.add(kB, config(ssrcB, kA));
      net.start(kA);
      net.runFor(lag);
      net.start(kB);
      net.runFor(30 * kSecond);
      const std::vector<SessionEvent> once{{SessionEventKind::Up}, {SessionEventKind::Synced}};
      EXPECT_EQ(eventsOf(net, kA), once);
      EXPECT_EQ(eventsOf(net, kB), once);
      const bool aInvites = ssrcA < ssrcB;
      EXPECT_EQ(net.at(kA).role(), aInvites ? SessionRole::Initiator : SessionRole::Responder);
      EXPECT_EQ(net.at(kB).role(), aInvites ? SessionRole::Responder : SessionRole::Initiator);
      EXPECT_TRUE(net.at(kA).connected() && net.at(kB).connected());
      // The later one's invitation shows it is there: the winner invites again at
      // once, rather than at its next retry.
      EXPECT_LT(*net.firstEvent(kA, SessionEventKind::Up) - lag, 50'000);
    }
  }
}

TEST(RtpSession, NoStateOutlivesALossyReorderingNetwork) {
  for (unsigned seed = 1; seed <= 200; ++seed) {
    const bool bothInvite = seed % 2 == 0;
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 random(seed);
    bool lossy = true;
    SessionNetwork net;
    net.drops = [&](const strandlink::testing::Datagram&) { return lossy && random() % 100 < 40; };
    net.delay = [&](const strandlink::testing::Datagram&) { return static_cast<Micros>(500 + random() % 30'000); };
    net.add(kA, config(kSsrcA, kB));
    net.add(kB, bothInvite ? config(kSsrcB, kA) : config(kSsrcB));
    net.start(kA);
    net.start(kB);
    net.runFor(60 * kSecond);
    lossy = false;  // once the network is sound again, one synced session within seconds
    net.runFor(15 * kSecond);
    ASSERT_TRUE(net.at(kA).connected() && net.at(kB).connected());
    EXPECT_NE(net.at(kA).role(), net.at(kB).role());
    EXPECT_EQ(net.at(kA).peerSsrc(), kSsrcB);
    EXPECT_EQ(net.at(kB).peerSsrc(), kSsrcA);
  }
}

TEST(RtpSession, SyncBurstThenEveryTenSecondsAndNoAnswerToTheClosingPacket) {
  SessionNetwork net;
  inviterAndListener(net);
  for (std::uint16_t seq = 0; seq < 70; ++seq) {  // MIDI both ways: neither side is quiet
    net.runFor(kSecond / 2);
    net.deliverData(kA, kB, kSsrcB, seq);
    net.deliverData(kB, kA, kSsrcA, seq);
  }
  const Micros up = *net.firstEvent(kA, SessionEventKind::Up);
  std::vector<Micros> expected;
  for (int i = 0; i < 6; ++i) expected.push_back(up + i * 400'000);
  for (Micros t = up + 12 * kSecond; t <= 35 * kSecond; t += 10 * kSecond) expected.push_back(t);
  const auto starts = net.sendTimes(kA, [](const SessionPacket& p) { return isClockSync(p, 0); });
  EXPECT_EQ(starts, expected);
  EXPECT_EQ(net.sendTimes(kB, [](const SessionPacket& p) { return isClockSync(p, 1); }).size(), starts.size());
  EXPECT_EQ(net.sendTimes(kA, [](const SessionPacket& p) { return isClockSync(p, 2); }).size(), starts.size());
  // The responder never starts one of its own while the inviter keeps syncing.
  EXPECT_TRUE(net.sendTimes(kB, [](const SessionPacket& p) { return isClockSync(p, 0); }).empty());

  // A CK2 by hand: taken in, answered with nothing.
  Session& b = net.at(kB);
  const std::uint64_t t = toSyncTicks(net.localTime(kB));
  b.receive(SessionPort::Data, {kA, 5005}, ClockSync{kSsrcA, 2, {t - 4, t - 2, t}}, net.localTime(kB));
  EXPECT_TRUE(b.takeOutgoing().empty());
  // A CK1 that answers no CK0 of ours (late, or forged) is neither closed nor learned from.
  Session& a = net.at(kA);
  const auto before = a.clock();
  a.receive(SessionPort::Data, {kB, 5005}, ClockSync{kSsrcB, 1, {12345, t, 0}}, net.localTime(kA));
  EXPECT_TRUE(a.takeOutgoing().empty());
  EXPECT_EQ(a.clock(), before);
}

TEST(RtpSession, ResponderSyncsItselfWhenTheInviterNeverDoes) {
  SessionNetwork net;
  net.drops = [](const strandlink::testing::Datagram& d) {
    return d.fromHost == kA && isClockSync(d.out.packet, 0);
  };
  inviterAndListener(net);
  net.runFor(kSecond);
  EXPECT_FALSE(net.at(kA).connected());
  net.runFor(3 * kSecond);
  EXPECT_TRUE(net.at(kB).connected());
  EXPECT_TRUE(net.at(kA).connected());  // learned from the responder's closing CK2
}

// Either side asks a quiet peer with clock syncs, 1.5 s after its last word and then
// every second; three asks without a word end the session 4.5 s after that word.
TEST(RtpSession, APeerThatVanishedIsGoneInFourAndAHalfSecondsASlowOneIsKept) {
  for (const bool inviterVanishes : {false, true}) {
    SCOPED_TRACE(inviterVanishes ? "the inviter vanishes" : "the listener vanishes");
    const std::string gone = inviterVanishes ? kA : kB, stays = inviterVanishes ? kB : kA;
    SessionNetwork net;
    inviterAndListener(net);
    net.runFor(7 * kSecond);
    Micros lastWord = 0;
    for (const auto& d : net.sent())
      if (d.fromHost == gone) lastWord = d.sentAt + 1000;
    net.remove(gone);
    net.runFor(10 * kSecond);
    const auto isAsk = [](const SessionPacket& p) { return isClockSync(p, 0); };
    std::vector<Micros> asks;
    for (const Micros t : net.sendTimes(stays, isAsk))
      if (t > lastWord) asks.push_back(t);
    EXPECT_EQ(asks, (std::vector<Micros>{lastWord + 1'500'000, lastWord + 2'500'000, lastWord + 3'500'000}));
    EXPECT_EQ(net.firstEvent(stays, SessionEventKind::Down), lastWord + 4'500'000);
    EXPECT_EQ(eventsOf(net, stays).back().reason, DownReason::TimedOut);
    EXPECT_EQ(net.at(stays).state(), inviterVanishes ? SessionState::Listening : SessionState::InvitingControl);
  }

  // Answers 2.5 s late, slower than the wait for each, come before the third ask
  // is overdue: the session stands.
  SessionNetwork slow;
  slow.delay = [](const strandlink::testing::Datagram& d) { return d.fromHost == kB ? 2'500'000 : 1000; };
  inviterAndListener(slow);
  slow.runFor(60 * kSecond);
  EXPECT_FALSE(slow.firstEvent(kA, SessionEventKind::Down));
  EXPECT_TRUE(slow.at(kA).connected());
}

// A BY goes out on both ports, and one on either ends the session.
TEST(RtpSession, ByeOnBothPortsAndEitherEndsTheSession) {
  for (const SessionPort lost : {SessionPort::Control, SessionPort::Data}) {
    SessionNetwork net;
    net.drops = [&](const strandlink::testing::Datagram& d) {
      return isExchange(d.out, ExchangeCommand::End) && d.out.from == lost;
    };
    inviterAndListener(net);
    net.runFor(kSecond);
    net.stop(kA);
    net.runFor(10'000);
    std::vector<PeerAddress> byes;
    for (const auto& d : net.sent())
      if (isExchange(d.out, ExchangeCommand::End)) byes.push_back(d.out.to);
    EXPECT_EQ(byes, (std::vector<PeerAddress>{{kB, 5004}, {kB, 5005}}));
    EXPECT_EQ(net.firstEvent(kB, SessionEventKind::Down), kSecond + 1000);
    EXPECT_EQ(eventsOf(net, kB).back().reason, DownReason::PeerLeft);
  }
}

// A peer's program that starts again binds new ports (a client does): the same
// name from its host with a new SSRC replaces the session once it answers a clock
// sync of ours with its random time; another program on that host is refused.
TEST(RtpSession, APeerBackFromAnotherPortReplacesItsSessionOnceItSyncs) {
  SessionNetwork net;
  inviterAndListener(net);
  net.runFor(kSecond);
  Session& b = net.at(kB);
  const Micros now = net.localTime(kB);
  Exchange other = invitation(0x3333, 42);
  b.receive(SessionPort::Control, {kA, 6000}, other, now);
  EXPECT_TRUE(isExchange(b.takeOutgoing().at(0), ExchangeCommand::Reject));
  EXPECT_EQ(b.peerSsrc(), kSsrcA);
  Exchange again = invitation(0x4444, 43);
  again.name = b.peerName();
  b.receive(SessionPort::Control, {kA, 6000}, again, now);
  const auto out = b.takeOutgoing();
  ASSERT_EQ(out.size(), 1u);
  EXPECT_TRUE(isExchange(out[0], ExchangeCommand::Accept));
  EXPECT_EQ(out[0].to, (PeerAddress{kA, 6000}));
  b.receive(SessionPort::Data, {kA, 6001}, again, now);
  const auto challenge = b.takeOutgoing();
  ASSERT_EQ(challenge.size(), 2u);
  const std::uint64_t secret = std::get<ClockSync>(challenge[1].packet).timestamps[0];
  b.receive(SessionPort::Data, {kA, 6001}, ClockSync{0x4444, 1, {secret + 1, 5, 0}}, now);  // a guess
  b.receive(SessionPort::Data, {kA, 6002}, ClockSync{0x4444, 1, {secret, 5, 0}}, now);      // another port
  EXPECT_EQ(b.peerSsrc(), kSsrcA);
  b.receive(SessionPort::Data, {kA, 6001}, ClockSync{0x4444, 1, {secret, 5, 0}}, now);
  const auto events = b.takeEvents();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[events.size() - 2], (SessionEvent{SessionEventKind::Down, DownReason::PeerRestarted}));
  EXPECT_EQ(events.back().kind, SessionEventKind::Up);
  EXPECT_EQ(b.state(), SessionState::Up);
  EXPECT_EQ(b.peerSsrc(), 0x4444u);
  EXPECT_EQ(b.peerDataAddress(), (PeerAddress{kA, 6001}));
}

TEST(RtpSession, OffsetAndRoundTripComeFromTheQuickestExchange) {
  SessionNetwork net;
  // One way delays of the first five exchanges' CK0 and CK1; the third is quickest.
  const std::pair<Micros, Micros> legs[] = {{5000, 1000}, {3000, 3000}, {1000, 1000}, {1000, 9000}, {4000, 2000}};
  int ck0 = -1, ck1 = -1;
  net.delay = [&](const strandlink::testing::Datagram& d) -> Micros {
    if (isClockSync(d.out.packet, 0) && ++ck0 < 5) return legs[ck0].first;
    if (isClockSync(d.out.packet, 1) && ++ck1 < 5) return legs[ck1].second;
    return isClockSync(d.out.packet, 0) || isClockSync(d.out.packet, 1) ? 6000 : 1000;
  };
  net.add(kA, config(kSsrcA, kB));
  net.add(kB, config(kSsrcB), 1'234'500);  // B's clock runs 12345 ticks ahead
  net.start(kB);
  net.start(kA);
  net.runFor(3 * kSecond);
  EXPECT_EQ(net.at(kA).clock(), (SyncSample{20, 12345}));
  EXPECT_EQ(net.at(kB).clock(), (SyncSample{20, -12345}));
}

TEST(RtpSession, ReceiverFeedbackCarriesTheLastSequenceAboutEverySecond) {
  SessionNetwork net;
  inviterAndListener(net);
  net.runFor(kSecond);
  const auto feedback = [&] {
    std::vector<std::pair<Micros, std::uint16_t>> out;
    for (const auto& d : net.sent())
      if (const auto* rs = std::get_if<ReceiverFeedback>(&d.out.packet); rs && d.fromHost == kB)
        out.emplace_back(d.sentAt, rs->sequence);
    return out;
  };
  for (int seq : {65534, 65535, 1}) net.deliverData(kB, kA, kSsrcA, static_cast<std::uint16_t>(seq));
  net.deliverData(kB, kC, kSsrcA, 7);  // another host's packet is not the session's
  net.deliverData(kB, kA, 0x7777, 8);  // nor is another sender's
  net.runFor(3 * kSecond);  // nothing new after the first report: no more reports
  net.deliverData(kB, kA, kSsrcA, 2);
  net.runFor(2 * kSecond);
  const auto sent = feedback();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], std::pair(kSecond, std::uint16_t{1}));
  EXPECT_EQ(sent[1], std::pair(4 * kSecond, std::uint16_t{2}));
  EXPECT_EQ(net.at(kB).sequences().lost(), 1u);
}

// Receiver feedback moves our journal's checkpoint: only the peer's control port
// with its SSRC may send it.
TEST(RtpSession, FeedbackCountsOnlyFromThePeersControlPortWithItsSsrc) {
  SessionNetwork net;
  inviterAndListener(net);
  net.runFor(kSecond);
  Session& b = net.at(kB);
  b.receive(SessionPort::Control, {kA, 5005}, ReceiverFeedback{kSsrcA, 9}, net.localTime(kB));
  b.receive(SessionPort::Control, {kC, 5004}, ReceiverFeedback{kSsrcA, 9}, net.localTime(kB));
  b.receive(SessionPort::Control, {kA, 5004}, ReceiverFeedback{kSsrcA + 1, 9}, net.localTime(kB));
  EXPECT_EQ(b.takePeerFeedback(), std::nullopt);
  b.receive(SessionPort::Control, {kA, 5004}, ReceiverFeedback{kSsrcA, 9}, net.localTime(kB));
  EXPECT_EQ(b.takePeerFeedback(), std::uint16_t{9});
}
