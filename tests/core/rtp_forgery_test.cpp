// A stranger on the LAN against a real RTP-MIDI session on loopback, forging the
// peer's host, its ports and (as if leaked) its SSRC: ten note pairs before each
// attack and ten after all arrive, none of the forger's is played, the session
// stands. Needs root for the forger's raw socket.
#include <gtest/gtest.h>

#include <QtEndian>

#include <memory>

#include "base/monotonic_clock.h"
#include "protocol/rtp/session_packet.h"
#include "support/forger.h"
#include "support/real_part.h"
#include "support/rtp_end.h"
#include "support/side.h"

namespace strandlink::test {
namespace {

using namespace protocol::rtp;

QByteArray bytesOf(const SessionPacket& packet) {
  const auto b = encodeSessionPacket(packet);
  return QByteArray(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
}

// A note-on on channel 16, which the real peer never plays.
QByteArray forgedNote(std::uint32_t ssrc, std::uint16_t sequence) {
  QByteArray p("\x80\x61\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x03\x9F\x7F\x7F", 16);
  p[2] = char(sequence >> 8), p[3] = char(sequence);
  for (int i = 0; i < 4; ++i) p[8 + i] = char(ssrc >> (24 - 8 * i));
  return p;
}

class RtpForgeryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_REAL_PART(forger.ready(), kNoRawSocket);
    ASSERT_TRUE(b->start(std::nullopt));
    ASSERT_TRUE(a->start(b->port));
    ASSERT_TRUE(waitFor([&] { return a->connected() && b->connected(); }, 5000));
  }
  // Ten note pairs from a, each a note of its own, all arrived at b.
  void play() {
    for (int i = 0; i < 10; ++i, ++played_) {
      const std::uint8_t on[3] = {0x90, std::uint8_t(played_), 100}, off[3] = {0x80, std::uint8_t(played_), 0};
      ASSERT_EQ(a->rtp.send(midi::MidiEventView(on), monotonicMicros()), protocol::SendResult::Sent);
      ASSERT_EQ(a->rtp.send(midi::MidiEventView(off), monotonicMicros()), protocol::SendResult::Sent);
    }
    ASSERT_TRUE(waitFor([&] { return b->sink.events.size() >= std::size_t(2 * played_); }, 5000))
        << b->sink.events.size() << " of " << 2 * played_;
  }
  // All of a's notes in order and nothing else, from a's session still up.
  void expectOnlyOurs() {
    ASSERT_EQ(b->sink.events.size(), std::size_t(2 * played_));
    for (int n = 0; n < played_; ++n) {
      EXPECT_EQ(b->sink.events[std::size_t(2 * n)].bytes, (std::vector<std::uint8_t>{0x90, std::uint8_t(n), 100}));
      EXPECT_EQ(b->sink.events[std::size_t(2 * n + 1)].bytes, (std::vector<std::uint8_t>{0x80, std::uint8_t(n), 0}));
    }
    EXPECT_TRUE(a->connected() && b->connected());
    EXPECT_EQ(b->rtp.session()->peerSsrc(), a->rtp.session()->ssrc());
    EXPECT_LT(b->rtp.session()->sequences().lost(), 100u);
  }
  std::uint32_t ssrcA() const { return a->rtp.session()->ssrc(); }
  std::uint16_t nextSequence() const { return std::uint16_t(*b->rtp.session()->sequences().highest() + 1); }

  Forger forger;
  std::unique_ptr<End> a = std::make_unique<End>(freePortPair());
  std::unique_ptr<End> b = std::make_unique<End>(freePortPair());
  int played_ = 0;
};

// Data with a's SSRC from another port of a's host, or from another host at a's
// port, is never played; from a's very port, a number 30,000 ahead (or far behind)
// silences nothing.
TEST_F(RtpForgeryTest, ForgedDataIsNotPlayedAndSilencesNothing) {
  play();
  forger.send("127.0.0.1", a->port + 3, b->port + 1, forgedNote(ssrcA(), nextSequence()));
  forger.send("127.0.0.2", a->port + 1, b->port + 1, forgedNote(ssrcA(), nextSequence()));
  forger.send("127.0.0.1", a->port + 1, b->port + 1, forgedNote(ssrcA(), std::uint16_t(nextSequence() + 30000)));
  forger.send("127.0.0.1", a->port + 1, b->port + 1, forgedNote(ssrcA(), std::uint16_t(nextSequence() - 1000)));
  play();
  expectOnlyOurs();
}

// A BY ends the session only from the port it belongs to, with a's SSRC and token.
TEST_F(RtpForgeryTest, ForgedByeEndsNothing) {
  play();
  const Exchange bye{ExchangeCommand::End, kSessionProtocolVersion, b->rtp.session()->token(), ssrcA(), {}};
  Exchange otherToken = bye, otherSsrc = bye;
  otherToken.token ^= 1, otherSsrc.ssrc ^= 1;
  forger.send("127.0.0.1", a->port + 2, b->port, bytesOf(bye));      // another port of a's host
  forger.send("127.0.0.2", a->port, b->port, bytesOf(bye));          // another host
  forger.send("127.0.0.1", a->port + 1, b->port, bytesOf(bye));      // a's data port, to the control port
  forger.send("127.0.0.1", a->port, b->port + 1, bytesOf(bye));      // a's control port, to the data port
  forger.send("127.0.0.1", a->port, b->port, bytesOf(otherToken));
  forger.send("127.0.0.1", a->port + 1, b->port + 1, bytesOf(otherSsrc));
  play();
  expectOnlyOurs();
}

// An invitation with a new SSRC from a's own ports, a handshake and a guessed
// clock sync after it take nothing over, and the forger's notes are not played;
// a real run from another port under a's name is let in beside a, which answers
// the doubt that raises and stays (a restart's old run answers nothing and falls).
TEST_F(RtpForgeryTest, ForgedInvitationTakesNothingOverARealRestartDoes) {
  play();
  const std::uint32_t forged = 0x5EED5EED;
  const std::string name = b->rtp.session()->peerName();
  const Exchange in{ExchangeCommand::Invitation, kSessionProtocolVersion, 77, forged, name};
  forger.send("127.0.0.1", a->port, b->port, bytesOf(in));
  forger.send("127.0.0.1", a->port + 1, b->port + 1, bytesOf(in));
  const std::uint64_t now = toSyncTicks(monotonicMicros());
  for (std::uint64_t guess = now - 50; guess < now + 50; ++guess)
    forger.send("127.0.0.1", a->port + 1, b->port + 1, bytesOf(ClockSync{forged, 1, {guess, now, 0}}));
  forger.send("127.0.0.1", a->port + 1, b->port + 1, forgedNote(forged, 1));
  play();
  expectOnlyOurs();

  End restarted(freePortPair(), QString::fromStdString(name));
  ASSERT_TRUE(restarted.start(b->port));
  ASSERT_TRUE(waitFor([&] { return restarted.connected() && b->rtp.participantsLinked() == 2; }, 5000));
  play();
  expectOnlyOurs();
}

// A stranger who never comes to the data port keeps no one out; what anyone is
// told (a NO from the copy that invites, the BY to a stray clock sync) names no
// SSRC of the session.
TEST_F(RtpForgeryTest, HalfOpenHandshakesHoldNoOneAndRefusalsLeakNoSsrc) {
  End listener(freePortPair()), inviter(freePortPair());
  ASSERT_TRUE(listener.start(std::nullopt));
  const Exchange in{ExchangeCommand::Invitation, kSessionProtocolVersion, 5, 0x5EED, "stranger"};
  forger.send("127.0.0.2", 6000, listener.port, bytesOf(in));
  ASSERT_TRUE(inviter.start(listener.port));
  EXPECT_TRUE(waitFor([&] { return inviter.connected() && listener.connected(); }, 3000));

  RawPeer stranger(freePortPair());
  stranger.sendTo(a->port, bytesOf(in));
  stranger.sendTo(a->port + 1, bytesOf(ClockSync{0x5EED, 0, {1, 0, 0}}));
  for (int i = 0; i < 2; ++i) {
    const auto answer = stranger.receive();
    ASSERT_TRUE(answer && answer->size() >= 16);
    const std::uint32_t ssrc = qFromBigEndian<std::uint32_t>(answer->constData() + 12);
    EXPECT_NE(ssrc, a->rtp.session()->ssrc()) << answer->mid(2, 2).toStdString();
  }
  play();
  expectOnlyOurs();
}

TEST(RtpStart, ACopyDoesNotInviteItself) {
  End self(freePortPair());
  EXPECT_FALSE(self.start(self.port));
  ASSERT_EQ(self.boxes.texts().size(), 1);
  EXPECT_TRUE(self.boxes.texts()[0].contains(QStringLiteral("cannot invite itself"))) << self.boxes.texts()[0].toStdString();
}

}  // namespace
}  // namespace strandlink::test
