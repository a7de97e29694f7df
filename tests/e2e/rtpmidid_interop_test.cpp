// Interoperation with rtpmidid's peer library through its small program rtpm_peer
// (named in RTPM_PEER by tests/e2e/rtpmidid_interop.sh, which builds it and runs
// this in a network namespace of its own). Both roles: note pairs on four channels
// both ways with the journal on, exactly as played; a restart of either side back
// within 3 s; a peer killed outright shown "Not Connected" within the deadline.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <iostream>
#include <memory>
#include <set>

#include "support/real_part.h"
#include "support/rtp_end.h"
#include "support/side.h"

namespace strandlink::test {
namespace {

using Message = std::vector<std::uint8_t>;

// In milliseconds. A restart takes milliseconds, so its goal is the deadline; a
// vanished peer is gone 4.5 s after its last word, and the deadline leaves a loaded
// machine room while still failing the minute's wait of old.
constexpr int kBackWithin = 3000;
constexpr int kGoneWithin = 8000;

QString hex(const Message& bytes) {
  QStringList parts;
  for (std::uint8_t b : bytes) parts << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
  return parts.join(u' ');
}

// 100 note pairs on each of channels 1 to 4, the channels taking turns: 800 messages.
std::vector<Message> notePairs() {
  std::vector<Message> out;
  for (std::uint8_t i = 0; i < 100; ++i)
    for (std::uint8_t c = 0; c < 4; ++c) {
      out.push_back({std::uint8_t(0x90 | c), std::uint8_t(36 + i % 60), std::uint8_t(1 + i)});
      out.push_back({std::uint8_t(0x80 | c), std::uint8_t(36 + i % 60), 0});
    }
  return out;
}

// rtpm_peer as a child: "server PORT" waits to be invited, "client 127.0.0.1 PORT" invites.
class RtpmPeer {
 public:
  RtpmPeer(bool server, int port) {
    process_.setStandardErrorFile(QProcess::nullDevice());  // the library's log
    const QString p = QString::number(port);
    process_.start(qEnvironmentVariable("RTPM_PEER"),
                   server ? QStringList{"server", p} : QStringList{"client", "127.0.0.1", p});
    waitFor([&] { return read(), !words.isEmpty(); }, 5000);  // "listening" or "inviting"
  }
  ~RtpmPeer() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.write("quit\n");
    if (!process_.waitForFinished(3000)) process_.kill();
  }
  void vanish() { process_.kill(), process_.waitForFinished(3000); }
  void send(const Message& bytes) { process_.write(("tx " + hex(bytes) + "\n").toLatin1()); }
  void read() {
    static const QRegularExpression ours(QStringLiteral("^[0-9]+\\.[0-9]{3} "));  // not the library's log
    while (process_.canReadLine()) {
      const QString line = QString::fromLatin1(process_.readLine()).trimmed();
      if (!ours.match(line).hasMatch()) continue;
      const QString what = line.section(u' ', 1);
      if (what.startsWith(QStringLiteral("rx "))) received << what.mid(3);
      else words << what;
    }
  }
  // Its last word on its session: status 3 is both ports up.
  bool connected() {
    read();
    const QStringList status = words.filter(QStringLiteral("status "));
    return !status.isEmpty() && status.back().contains(QRegularExpression(QStringLiteral("status 3( |$)")));
  }

  QProcess process_;
  QStringList words;
  QStringList received;
};

class RtpmidiDInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_REAL_PART(!qEnvironmentVariableIsEmpty("RTPM_PEER"),
                      "rtpmidid's peer (run through tests/e2e/rtpmidid_interop.sh)");
  }
  static bool linked(End& ours, RtpmPeer& peer, int deadline = 10000) {
    return waitFor([&] { return ours.connected() && peer.connected(); }, deadline);
  }

  // 800 messages each way, 40 at a time, each batch waited for, then a last one:
  // what came before it is exactly what was played.
  static void notesBothWays(End& ours, RtpmPeer& peer) {
    const std::vector<Message> played = notePairs();
    const Message last{0xBF, 0x7B, 0};
    QStringList expected;
    for (std::size_t i = 0; i < played.size(); ++i) {
      ASSERT_EQ(ours.rtp.send(midi::MidiEventView(played[i]), 0), protocol::SendResult::Sent);
      expected << hex(played[i]);
      if (i % 40 == 39) waitFor([&] { peer.read();
        return peer.received.size() >= expected.size(); }, 5000);
    }
    ASSERT_EQ(ours.rtp.send(midi::MidiEventView(last), 0), protocol::SendResult::Sent);
    ASSERT_TRUE(waitFor([&] { peer.read();
      return peer.received.contains(hex(last)); }, 5000))
        << peer.received.size() << " of " << expected.size();
    peer.received.removeLast();
    qsizetype same = 0;
    while (same < expected.size() && same < peer.received.size() && peer.received[same] == expected[same]) ++same;
    EXPECT_EQ(same, expected.size()) << peer.received.size() << " messages came for " << expected.size()
                                     << "; the first different one, number " << same << ", is "
                                     << peer.received.value(same).toStdString();
    EXPECT_EQ(peer.received.size(), expected.size());

    for (std::size_t i = 0; i < played.size(); ++i) {
      peer.send(played[i]);
      if (i % 40 == 39) waitFor([&] { return ours.sink.events.size() > i; }, 5000);
    }
    ASSERT_TRUE(waitFor([&] { return ours.sink.events.size() >= played.size(); }, 5000)) << ours.sink.events.size();
    for (std::size_t i = 0; i < played.size(); ++i) ASSERT_EQ(ours.sink.events[i].bytes, played[i]) << "message " << i;
  }

  // Killed outright: our side says "Not Connected" within the deadline.
  static void noticedGone(End& ours, RtpmPeer& peer) {
    peer.vanish();
    QElapsedTimer gone;
    gone.start();
    EXPECT_TRUE(waitFor([&] { return !ours.connected(); }, kGoneWithin));
    std::cout << "\"Not Connected\" after " << gone.elapsed() << " ms\n";
  }
};

TEST_F(RtpmidiDInterop, ItInvitesUsAndComesBackFromAnotherPortAtOnce) {
  End ours(freePortPair());
  ASSERT_TRUE(ours.start(std::nullopt));
  auto peer = std::make_unique<RtpmPeer>(false, ours.port);
  ASSERT_TRUE(linked(ours, *peer)) << peer->words.join(u'|').toStdString();
  notesBothWays(ours, *peer);

  // Killed and started again, it invites from new ports with a new SSRC.
  peer->vanish();
  QElapsedTimer back;
  back.start();
  peer = std::make_unique<RtpmPeer>(false, ours.port);
  EXPECT_TRUE(linked(ours, *peer, kBackWithin)) << peer->words.join(u'|').toStdString();
  std::cout << "back in session after " << back.elapsed() << " ms\n";
  EXPECT_TRUE(waitFor([&] { return ours.sink.notices.filter(QStringLiteral("the peer restarted")).size() == 1; }, 1000))
      << ours.sink.notices.join(u'\n').toStdString();

  noticedGone(ours, *peer);
}

// Three of its clients in one session with one copy (all from one host under one
// name, as three programs on one box would be): what we play reaches each once,
// what each plays reaches us from its own participant, and one that vanishes
// without a goodbye takes only its own note with it while the others play on.
TEST_F(RtpmidiDInterop, ThreeOfItsClientsShareOneSession) {
  End ours(freePortPair());
  ASSERT_TRUE(ours.start(std::nullopt));
  std::vector<std::unique_ptr<RtpmPeer>> peers;
  for (int i = 0; i < 3; ++i) {
    peers.push_back(std::make_unique<RtpmPeer>(false, ours.port));
    ASSERT_TRUE(linked(ours, *peers.back())) << i << ": " << peers.back()->words.join(u'|').toStdString();
  }
  ASSERT_TRUE(waitFor([&] { return ours.rtp.participantsLinked() == 3; }, 5000)) << ours.rtp.participantsLinked();

  const Message chord{0x90, 0x30, 0x40};
  ASSERT_EQ(ours.rtp.send(midi::MidiEventView(chord), 0), protocol::SendResult::Sent);
  for (auto& peer : peers)
    EXPECT_TRUE(waitFor([&] { peer->read();
      return peer->received.contains(hex(chord)); }, 5000));
  // Each its own note; the second also one the third plays too, which sounds on.
  for (std::uint8_t i = 0; i < 3; ++i) peers[i]->send({0x90, std::uint8_t(0x40 + i), 0x50});
  peers[1]->send({0x90, 0x45, 0x50});
  peers[2]->send({0x90, 0x41, 0x50});
  ASSERT_TRUE(waitFor([&] { return ours.sink.events.size() >= 5; }, 5000)) << ours.sink.events.size();
  std::set<std::size_t> sources;
  for (const Received& r : ours.sink.events) sources.insert(r.source);
  EXPECT_EQ(sources.size(), 3u);

  peers[1]->vanish();
  ASSERT_TRUE(waitFor([&] { return ours.rtp.participantsLinked() == 2; }, kGoneWithin));
  EXPECT_TRUE(ours.connected());
  EXPECT_EQ(ours.sink.released, (std::vector<Message>{{0x80, 0x45, 0}})) << ours.sink.released.size();
  for (std::size_t i : {0u, 2u}) {
    peers[i]->send({0x80, std::uint8_t(0x40 + i), 0});
    peers[i]->read();
    EXPECT_EQ(peers[i]->received.count(hex(chord)), 1) << "peer " << i;
  }
  EXPECT_TRUE(waitFor([&] { return ours.sink.events.size() >= 7; }, 5000)) << ours.sink.events.size();
}

TEST_F(RtpmidiDInterop, WeInviteItAndEitherSideRestarts) {
  const int port = freePortPair();
  auto peer = std::make_unique<RtpmPeer>(true, port);
  End ours(freePortPair());
  ASSERT_TRUE(ours.start(port));
  ASSERT_TRUE(linked(ours, *peer)) << peer->words.join(u'|').toStdString();
  notesBothWays(ours, *peer);

  // Our restart: its session ends on our BY, and our new one is let in.
  ours.rtp.stop();
  ASSERT_TRUE(waitFor([&] { return !peer->connected(); }, kBackWithin)) << peer->words.join(u'|').toStdString();
  ASSERT_TRUE(ours.start(port));
  EXPECT_TRUE(linked(ours, *peer, kBackWithin)) << peer->words.join(u'|').toStdString();

  // Its restart on the same port: our session ends on its BY, and we invite again.
  peer.reset();
  peer = std::make_unique<RtpmPeer>(true, port);
  EXPECT_TRUE(linked(ours, *peer, kBackWithin)) << peer->words.join(u'|').toStdString();

  noticedGone(ours, *peer);
}

}  // namespace
}  // namespace strandlink::test
