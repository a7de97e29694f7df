// The classic link's shared key: the tag against RFC 4231's HMAC-SHA-256 vector,
// the key file's refusals, the replay window, and two keyed ends on loopback
// sockets with a relay that passes, replays and forges datagrams.
#include <sys/stat.h>

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

#include "link/notice_text.h"
#include "protocol/admission.h"
#include "protocol/classic/classic_protocol.h"
#include "protocol/peer_filter.h"
#include "settings/key_file.h"
#include "support/side.h"

using namespace strandlink;
using namespace strandlink::protocol::classic;
using Bytes = std::vector<std::uint8_t>;
using Verdict = DatagramOpener::Verdict;
using protocol::ClassicPort;

namespace {

Bytes bytesOf(std::string_view s) { return {s.begin(), s.end()}; }
const Bytes kKey(32, 0x5a);

Bytes sealed(DatagramSealer& sealer, const Bytes& message, ClassicPort to = ClassicPort::Midi) {
  Bytes out(message.size() + kSealSize);
  out.resize(sealer.seal(to, message, out));
  return out;
}

struct Sink : protocol::PeerSink {
  void peerEvent(midi::MidiEventView e, std::optional<std::uint32_t>, std::int64_t, std::size_t) override {
    events.emplace_back(e.bytes().begin(), e.bytes().end());
  }
  void peerNotice(const protocol::PeerNotice& n) override { notices << link::noticeLine(n); }
  void peerStatus(protocol::LinkStatus) override {}
  void peerChatLine(const QString&) override {}
  void peerProblem(const protocol::PeerProblem&) override {}
  void peerFiguresChanged() override {}
  std::vector<Bytes> events;
  QStringList notices;
};

}  // namespace

TEST(SharedKey, TagIsHmacSha256AndTheKeyFileIsTheOwnersAlone) {
  const Tag tag = DatagramKey(bytesOf("Jefe")).tag(bytesOf("what do ya want for nothing?"));
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(tag.data()), tag.size()).toHex(),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  QTemporaryDir dir;
  const QString path = dir.filePath("key");
  std::ofstream(path.toStdString()) << std::string(32, 'k');
  ::chmod(path.toLocal8Bit().constData(), 0640);
  EXPECT_EQ(settings::readKeyFile(path).error, settings::KeyFileError::OpenToOthers);
  ::chmod(path.toLocal8Bit().constData(), 0600);
  EXPECT_EQ(settings::readKeyFile(path).key, Bytes(32, 'k'));
  std::ofstream(path.toStdString()) << std::string(31, 'k');
  EXPECT_EQ(settings::readKeyFile(path).error, settings::KeyFileError::TooShort);
}

TEST(SharedKey, LateDatagramsPassOnceAndRestartedSendersAreTaken) {
  DatagramSealer peer(kKey, 1), ours(kKey), stranger(Bytes(32, 0x01));
  DatagramOpener opener(kKey, ours.id(), ClassicPort::Midi);
  const Bytes first = sealed(peer, {0x90}), second = sealed(peer, {0x80});
  EXPECT_EQ(opener.open(second).verdict, Verdict::Fresh);
  EXPECT_EQ(opener.open(first).message.size(), 1u);  // one late: still played
  EXPECT_EQ(opener.open(first).verdict, Verdict::Replayed);
  EXPECT_EQ(opener.open(sealed(ours, {0x90})).verdict, Verdict::Replayed);  // our own, sent back
  EXPECT_EQ(opener.open(sealed(stranger, {0x90})).verdict, Verdict::Untagged);
  EXPECT_EQ(opener.open(sealed(peer, {0x01}, ClassicPort::Chat)).verdict, Verdict::Untagged);  // another port's
  Bytes bent = sealed(peer, {0x90});
  bent[0] = 0x91;  // the tag covers the message too
  EXPECT_EQ(opener.open(bent).verdict, Verdict::Untagged);
  const Bytes late = sealed(peer, {0x90});  // sealed but held back past the window
  for (int i = 0; i < int(DatagramOpener::kWindow); ++i) ASSERT_EQ(opener.open(sealed(peer, {0})).verdict, Verdict::Fresh);
  EXPECT_EQ(opener.open(late).verdict, Verdict::Replayed);
  DatagramSealer restarted(kKey);  // its counter from the wall clock, far above the last run's
  EXPECT_EQ(opener.open(sealed(restarted, {0x90})).verdict, Verdict::Fresh);
}

TEST(SharedKey, KeyedEndsPassMidiAndDropReplaysAndUntaggedDatagrams) {
  const int pa = test::freePortPair(), pb = test::freePortPair(), relayPort = test::freePortPair();
  Sink sinkA, sinkB;
  protocol::PeerFilter filter;  // off: the key alone keeps strangers out
  protocol::Admission admission;
  ClassicProtocol a({sinkA, filter, admission}), b({sinkB, filter, admission});
  test::RawPeer relay(relayPort);
  protocol::PeerStart start;
  start.key = kKey;
  start.settings = {.remoteHost = "127.0.0.1", .remotePort = QString::number(relayPort), .localHost = "127.0.0.1",
                    .localPort = QString::number(pa)};
  ASSERT_TRUE(a.start(start).running());
  start.settings.remotePort = QString::number(pa);
  start.settings.localPort = QString::number(pb);
  ASSERT_TRUE(b.start(start).running());
  const std::array<std::uint8_t, 3> note{0x90, 60, 100};
  ASSERT_EQ(a.send(midi::MidiEventView(note), 0), protocol::SendResult::Sent);
  const std::optional<QByteArray> wire = relay.receive();
  ASSERT_TRUE(wire && wire->size() == int(3 + kSealSize));
  // Passed on, replayed, then cut to what a peer without the key sends.
  for (const int length : {0, 0, 3, 4}) relay.sendTo(pb, length ? wire->left(length) : *wire);
  EXPECT_TRUE(test::waitFor([&] { return b.figures().link.untagged == 2; }));
  EXPECT_EQ(sinkB.events, (std::vector<Bytes>{Bytes(note.begin(), note.end())}));
  EXPECT_EQ(b.figures().link.replayed, 1u);
  ASSERT_EQ(sinkB.notices.size(), 1);
  EXPECT_TRUE(sinkB.notices[0].startsWith("A peer without the key is knocking: 127.0.0.1:"));
}
