// Interoperation with an independent Network MIDI 2.0 client, pymidi2
// (tests/e2e/pymidi2_peer.py), run by tests/e2e/pymidi2_interop.sh: it invites
// our host, MIDI passes both ways, our endpoint answers its discovery, and its
// Bye ends the session. It sends only what its own packets are made right from:
// no system or pressure messages, and no program change (it reads the program
// from the last byte, where the first data byte belongs).
#include <gtest/gtest.h>

#include <QProcess>

#include "protocol/admission.h"
#include "protocol/midi2/midi2_protocol.h"
#include "support/rtp_end.h"
#include "support/side.h"

namespace strandlink::test {
namespace {

class PythonPeer {
 public:
  explicit PythonPeer(int hostPort, const QString& secret = {}) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{QStringLiteral(STRANDLINK_PYMIDI2_PEER), QStringLiteral("127.0.0.1"), QString::number(hostPort)};
    if (!secret.isEmpty()) args << secret;
    process_.start(QStringLiteral("/usr/bin/python3"), args);
  }
  ~PythonPeer() {
    process_.kill();
    process_.waitForFinished(3000);
  }
  void say(const QString& line) { process_.write((line + u'\n').toLatin1()); }
  const QStringList& lines() {
    process_.waitForReadyRead(10);
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

}  // namespace

// Our host on loopback, with its own sink.
struct OurHost {
  bool start(const QString& secret = {}) {
    protocol::PeerStart s;
    s.settings.localHost = QStringLiteral("127.0.0.1");
    s.settings.localPort = QString::number(port);
    s.name = QStringLiteral("Strandlink host");
    s.secret = secret;
    return host.start(s).running();
  }
  const int port = freePortPair();
  RecordingBoxes boxes;
  report::Reporter reporter{boxes};
  RecordingPeerSink sink{reporter};
  protocol::PeerFilter filter;
  protocol::Admission admission;
  protocol::midi2::Midi2Protocol host{{sink, filter, admission}};
};

TEST(Pymidi2Interop, ClientInvitesOurHostMidiPassesBothWaysAndByeEndsIt) {
  OurHost here;
  ASSERT_TRUE(here.start());
  RecordingPeerSink& sink = here.sink;
  protocol::midi2::Midi2Protocol& host = here.host;
  PythonPeer peer(here.port);
  ASSERT_TRUE(waitFor([&] { return peer.lines().contains(QStringLiteral("connected")); }, 15000)) << "no session";
  ASSERT_EQ(sink.status, protocol::LinkStatus::Connected);

  // Its packets to our MIDI: MIDI 1.0 channel voice, MIDI 2.0 scaled down, a SysEx in two pieces.
  for (const char* tx : {"tx 20903c64", "tx 20803c00", "tx 20b50740", "tx 40913c00 80000000",
                         "tx 30160102 03040506", "tx 30320708 00000000"})
    peer.say(QString::fromLatin1(tx));
  const std::vector<std::vector<std::uint8_t>> expected = {{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x00},
                                                           {0xB5, 0x07, 0x40},
                                                           {0x91, 0x3C, 0x40}, {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7}};
  ASSERT_TRUE(waitFor([&] { return sink.events.size() >= expected.size(); }, 5000));
  ASSERT_EQ(sink.events.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(sink.events[i].bytes, expected[i]) << i;

  // Our MIDI to it, each packet once though every datagram carries copies.
  const std::vector<std::vector<std::uint8_t>> ours = {
      {0x92, 0x40, 0x50}, {0xF8}, {0xD1, 0x33}, {0xF0, 0x7E, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xF7}};
  for (const auto& m : ours) ASSERT_EQ(host.send(midi::MidiEventView(m), 0), protocol::SendResult::Sent);
  const QStringList words = {QStringLiteral("20924050"), QStringLiteral("10f80000"), QStringLiteral("20d13300"),
                             QStringLiteral("30167e01 02030405"), QStringLiteral("30320607 00000000")};
  ASSERT_TRUE(waitFor([&] { return peer.received().size() >= words.size(); }, 5000)) << peer.lines().join(u'\n').toStdString();
  EXPECT_EQ(peer.received(), words);

  // Its discovery of our endpoint: the info and the name come back.
  peer.say(QStringLiteral("tx f0000101 0000001f 00000000 00000000"));
  ASSERT_TRUE(waitFor([&] { return peer.received().size() >= words.size() + 6; }, 5000));
  EXPECT_EQ(peer.received()[words.size()], QStringLiteral("f0010101 81000100 00000000 00000000"));

  peer.say(QStringLiteral("bye"));
  ASSERT_TRUE(waitFor([&] { return sink.status == protocol::LinkStatus::NotConnected; }, 5000));
}

// Its digest of the shared secret against ours.
TEST(Pymidi2Interop, ClientProvesTheSecretOurHostAsksFor) {
  OurHost here;
  ASSERT_TRUE(here.start(QStringLiteral("s3cret")));
  PythonPeer peer(here.port, QStringLiteral("s3cret"));
  ASSERT_TRUE(waitFor([&] { return here.sink.status == protocol::LinkStatus::Connected; }, 15000));
}

}  // namespace strandlink::test
