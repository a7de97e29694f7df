// Interoperation with an independent RTP-MIDI implementation, the npm package
// "rtpmidi" (tests/e2e/rtpmidi_peer.js), run by tests/e2e/rtpmidi_interop.sh,
// which installs it and names it in RTPMIDI_NODE_PATH. It invites us, and we
// invite it; every kind of message passes byte-exact both ways.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>

#include "support/real_part.h"
#include "support/rtp_end.h"
#include "support/side.h"

namespace strandlink::test {
namespace {

const std::vector<std::vector<std::uint8_t>> kMessages = {
    {0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x00}, {0xB5, 0x07, 0x7F}, {0xC9, 0x05}, {0xE1, 0x00, 0x40},
    {0xE1, 0x7F, 0x7F}, {0xF8},             {0xFA},             {0xFC},
    {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x01, 0x02, 0x03, 0x04, 0xF7}};

QString hex(const std::vector<std::uint8_t>& bytes) {
  QStringList parts;
  for (std::uint8_t b : bytes) parts << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
  return parts.join(u' ');
}

// The npm peer as a child, its standard output split into lines.
class NodePeer {
 public:
  NodePeer(int port, std::optional<int> remotePort) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("NODE_PATH"), env.value(QStringLiteral("RTPMIDI_NODE_PATH")));
    process_.setProcessEnvironment(env);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{QStringLiteral(STRANDLINK_RTPMIDI_PEER), QString::number(port)};
    if (remotePort) args << QString::number(*remotePort);
    process_.start(QStringLiteral("node"), args);
  }
  ~NodePeer() {
    process_.closeWriteChannel();
    if (!process_.waitForFinished(3000)) process_.kill();
    process_.waitForFinished(3000);
  }
  bool started() { return process_.waitForStarted(5000); }
  // Gone without a goodbye, as a program that crashed or lost its network.
  void vanish() {
    process_.kill();
    process_.waitForFinished(3000);
  }
  void send(const std::vector<std::uint8_t>& bytes) { process_.write(("tx " + hex(bytes) + "\n").toLatin1()); }
  // Every line so far.
  const QStringList& lines() {
    while (process_.canReadLine()) lines_ << QString::fromLatin1(process_.readLine()).trimmed();
    return lines_;
  }
  QStringList received() {
    QStringList out;
    for (const QString& l : lines())
      if (l.startsWith(QStringLiteral("rx "))) out << l.mid(3);
    return out;
  }

 private:
  QProcess process_;
  QStringList lines_;
};

class RtpMidiInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_REAL_PART(!qEnvironmentVariableIsEmpty("RTPMIDI_NODE_PATH"),
                      "the npm package rtpmidi (run through tests/e2e/rtpmidi_interop.sh)");
  }

  // Both ways, once both sides are synced: each message on its own from the npm
  // peer, all of ours in one go (several to a packet, with delta times).
  void exchange(End& ours, NodePeer& node) {
    ASSERT_TRUE(waitFor([&] { return ours.connected() && node.lines().contains(QStringLiteral("ready")); }, 15000))
        << "ours " << ours.connected() << ", npm peer: " << node.lines().join(u'|').toStdString();
    for (const auto& m : kMessages) {
      node.send(m);
      settle(20);
    }
    ASSERT_TRUE(waitFor([&] { return ours.sink.events.size() >= kMessages.size(); }, 5000))
        << ours.sink.events.size() << " of " << kMessages.size();
    for (std::size_t i = 0; i < kMessages.size(); ++i) EXPECT_EQ(ours.sink.events[i].bytes, kMessages[i]);

    for (const auto& m : kMessages) ASSERT_EQ(ours.rtp.send(midi::MidiEventView(m), 0), protocol::SendResult::Sent);
    QStringList expected;
    for (const auto& m : kMessages) expected << hex(m);
    ASSERT_TRUE(waitFor([&] { return node.received().size() >= expected.size(); }, 5000))
        << node.lines().join(u'|').toStdString();
    EXPECT_EQ(node.received(), expected);
  }
};

TEST_F(RtpMidiInterop, ItInvitesUs) {
  End ours(freePortPair());
  ASSERT_TRUE(ours.start(std::nullopt));
  NodePeer node(freePortPair(), ours.port);
  ASSERT_TRUE(node.started()) << "node did not start";
  exchange(ours, node);
}

TEST_F(RtpMidiInterop, WeInviteIt) {
  const int nodePort = freePortPair();
  NodePeer node(nodePort, std::nullopt);
  ASSERT_TRUE(node.started()) << "node did not start";
  ASSERT_TRUE(waitFor([&] { return node.lines().contains(QStringLiteral("listening")); }, 15000));
  End ours(freePortPair());
  ASSERT_TRUE(ours.start(nodePort));
  exchange(ours, node);
}

// Three of its sessions invite one copy, all under one name from one host: what
// we play reaches each once, what each plays reaches us from its own participant,
// and one that vanishes without a goodbye takes only its own notes with it while
// the others play on.
TEST_F(RtpMidiInterop, ThreeOfItsSessionsShareOneOfOurs) {
  End ours(freePortPair());
  ASSERT_TRUE(ours.start(std::nullopt));
  std::vector<std::unique_ptr<NodePeer>> nodes;
  for (int i = 0; i < 3; ++i) {
    nodes.push_back(std::make_unique<NodePeer>(freePortPair(), ours.port));
    ASSERT_TRUE(nodes.back()->started()) << "node did not start";
  }
  ASSERT_TRUE(waitFor([&] {
    return ours.rtp.participantsLinked() == 3 &&
           std::ranges::all_of(nodes, [](auto& n) { return n->lines().contains(QStringLiteral("ready")); });
  }, 20000)) << ours.rtp.participantsLinked();
  for (std::uint8_t i = 0; i < 3; ++i) nodes[i]->send({0x90, std::uint8_t(0x40 + i), 0x50});
  nodes[2]->send({0x90, 0x41, 0x50});  // the second's note, which the third holds too
  ASSERT_TRUE(waitFor([&] { return ours.sink.events.size() >= 4; }, 5000)) << ours.sink.events.size();
  std::set<std::size_t> sources;
  for (const Received& r : ours.sink.events) sources.insert(r.source);
  EXPECT_EQ(sources.size(), 3u);

  nodes[1]->vanish();
  ASSERT_TRUE(waitFor([&] { return ours.rtp.participantsLinked() == 2; }, 8000));
  EXPECT_TRUE(ours.connected());
  EXPECT_TRUE(ours.sink.released.empty()) << ours.sink.released.size();  // its note sounds on: the third holds it
  const std::vector<std::uint8_t> chord{0x90, 0x30, 0x40};
  ASSERT_EQ(ours.rtp.send(midi::MidiEventView(chord), 0), protocol::SendResult::Sent);
  for (std::size_t i : {0u, 2u}) {
    ASSERT_TRUE(waitFor([&] { return nodes[i]->received().contains(hex(chord)); }, 5000)) << "node " << i;
    nodes[i]->send({0x80, std::uint8_t(0x40 + i), 0});
  }
  EXPECT_TRUE(waitFor([&] { return ours.sink.events.size() >= 6; }, 5000)) << ours.sink.events.size();
  settle(200);
  for (std::size_t i : {0u, 2u}) EXPECT_EQ(nodes[i]->received().count(hex(chord)), 1) << "node " << i;
}

}  // namespace
}  // namespace strandlink::test
