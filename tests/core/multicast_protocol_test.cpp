// The multicast protocol on real sockets: members of one group hear each other
// byte-exact and never themselves, garbage is dropped and told, a held chord
// outlasts silence, and refused values are named. The whole test program runs in a
// network namespace of its own (needs root), where loopback carries the group and
// nothing else on the machine can join in.
#include <arpa/inet.h>
#include <sched.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/notice_text.h"
#include "link/problem_text.h"
#include "link/status_text.h"
#include "protocol/admission.h"
#include "protocol/multicast/group_settings.h"
#include "protocol/multicast/multicast_protocol.h"
#include "protocol/peer_filter.h"
#include "report/reporter.h"
#include "support/real_part.h"
#include "support/recording_boxes.h"
#include "support/side.h"
#include "support/stub_midi.h"
#include "support/sysex_bytes.h"

using namespace strandlink;
using namespace strandlink::protocol::multicast;
using protocol::LinkStatus;
using test::settle;
using test::sysExOf;
using test::waitFor;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Moves the main thread, which makes every socket here, into a new network
// namespace with loopback up and routing multicast; once. What was missing, or "".
const std::string& privateNetwork() {
  static const std::string missing = [] {
    if (::unshare(CLONE_NEWNET) != 0)
      return std::string("a network namespace (") + std::strerror(errno) + "; run as root)";
    if (std::system("ip link set lo up multicast on && ip route add 224.0.0.0/4 dev lo") != 0)
      return std::string("a multicast route on loopback (ip from iproute2)");
    return std::string();
  }();
  return missing;
}

struct Sink : protocol::PeerSink {
  explicit Sink(report::Reporter& r) : reporter(r) {}
  void peerEvent(midi::MidiEventView e, std::optional<std::uint32_t> stamp, std::int64_t, std::size_t) override {
    events.emplace_back(e.bytes().begin(), e.bytes().end());
    stamped += stamp.has_value();
  }
  void peerStatus(LinkStatus) override {}
  void peerChatLine(const QString&) override {}
  void peerNotice(const protocol::PeerNotice& n) override { notices << link::noticeLine(n); }
  void peerProblem(const protocol::PeerProblem& p) override {
    if (const QString line = link::reportProblem(reporter, p); !line.isEmpty()) notices << line;
  }
  void peerFiguresChanged() override {}
  report::Reporter& reporter;
  std::vector<Bytes> events;
  int stamped = 0;
  QStringList notices;
};

protocol::PeerStart startWith(const settings::Settings& s, int ttl) {
  protocol::PeerStart start;
  start.settings = s;
  start.ttl = ttl;
  return start;
}

struct Member {
  test::RecordingBoxes boxes;
  report::Reporter reporter{boxes};
  protocol::PeerFilter filter;
  Sink sink{reporter};
  protocol::Admission admission;
  MulticastProtocol protocol{protocol::PeerContext{sink, filter, admission}};

  bool start(settings::Settings s = {}) { return protocol.start(startWith(s, 1)).running(); }
  void play(const std::vector<Bytes>& messages) {
    for (const Bytes& m : messages) ASSERT_EQ(protocol.send(midi::MidiEventView(m), 0), protocol::SendResult::Sent);
  }
};

std::string address(const sockaddr_in& a) {
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

}  // namespace

TEST(MulticastProtocol, MembersHearEachOtherByteExactAndNeverThemselves) {
  REQUIRE_REAL_PART(privateNetwork().empty(), "multicast protocol test: missing " << privateNetwork());
  Member a, b, c;
  settings::Settings onLoopback;
  onLoopback.localHost = QStringLiteral("127.0.0.1");
  ASSERT_TRUE(a.start() && b.start() && c.start(onLoopback)) << c.boxes.texts().join(u'\n').toStdString();

  // Every kind of message, and a SysEx over three datagrams.
  const std::vector<Bytes> fromA{{0x80, 0x3C, 0x00}, {0x91, 0x3C, 0x64}, {0xA2, 0x3C, 0x10}, {0xB3, 0x07, 0x7F},
                                 {0xC4, 0x05},       {0xD5, 0x40},       {0xE6, 0x00, 0x40}, {0xF1, 0x21},
                                 {0xF2, 0x01, 0x02}, {0xF3, 0x03},       {0xF6},             {0xF8},
                                 {0xFA},             {0xFF},             sysExOf(2500)};
  a.play(fromA);
  ASSERT_TRUE(waitFor([&] { return b.sink.events.size() >= fromA.size() && c.sink.events.size() >= fromA.size(); }));
  const std::vector<Bytes> fromB{{0x9F, 0x40, 0x7F}, {0xCF, 0x01}};
  b.play(fromB);
  ASSERT_TRUE(waitFor([&] { return a.sink.events.size() >= fromB.size(); }));
  settle(100);  // so that one datagram too many (our own) would show

  EXPECT_EQ(a.sink.events, fromB);
  EXPECT_EQ(b.sink.events, fromA);
  std::vector<Bytes> both = fromA;
  both.insert(both.end(), fromB.begin(), fromB.end());
  EXPECT_EQ(c.sink.events, both);
  for (Member* m : {&a, &b, &c}) {
    EXPECT_EQ(m->sink.stamped, 0) << "raw bytes carry no stamp";
    EXPECT_EQ(m->protocol.status(), LinkStatus::Connected);
    EXPECT_EQ(m->protocol.groupMembersHeard(), m == &c ? 2u : 1u);
    EXPECT_EQ(m->protocol.received().dropped(), 0u);
  }
  const std::string figures = link::figuresText(c.protocol.figures()).toStdString();
  EXPECT_NE(figures.find("2 peers heard"), std::string::npos) << figures;
  for (Member* m : {&a, &b})
    EXPECT_NE(figures.find(address(m->protocol.socket().ownAddress())), std::string::npos) << figures;
  const QString sent = link::figuresText(a.protocol.figures());
  EXPECT_TRUE(sent.contains(QStringLiteral("out 17 datagrams / 15 messages"))) << sent.toStdString();
}

// What a stranger in the group sends that is no whole message never reaches the
// output; it is counted and said in a line, once.
TEST(MulticastProtocol, GarbageIsDroppedAndTold) {
  REQUIRE_REAL_PART(privateNetwork().empty(), "multicast protocol test: missing " << privateNetwork());
  Member listener;
  ASSERT_TRUE(listener.start());
  net::SocketError error = net::SocketError::Ok;
  const MulticastSocket stranger = MulticastSocket::open(GroupOptions{}, error);
  ASSERT_EQ(error, net::SocketError::Ok);
  // Data without a status; a SysEx that a note cuts short; an end with no SysEx.
  for (const Bytes& d : std::vector<Bytes>{{0x3C, 0x64}, {0xF0, 0x01, 0x02}, {0x90, 0x3C, 0x64}, {0xF7}})
    ASSERT_TRUE(stranger.send(d).ok());
  ASSERT_TRUE(waitFor([&] { return listener.protocol.received().dropped() >= 4; }));
  settle(100);
  EXPECT_EQ(listener.sink.events, (std::vector<Bytes>{{0x90, 0x3C, 0x64}}));
  EXPECT_EQ(listener.protocol.received().dropped(), 4u);
  for (int i = 0; i < 2; ++i) listener.protocol.tick();
  ASSERT_EQ(listener.sink.notices.size(), 1);
  EXPECT_TRUE(listener.sink.notices[0].startsWith(QStringLiteral("Dropped 4 pieces of garbage")))
      << listener.sink.notices[0].toStdString();
}

// Gateways send nothing while a chord is held: through any silence short of a
// member surely gone, the chord sounds until its own note-offs. Then that
// member's notes alone are released, and the rest at Stop. The link's clock is
// moved on instead of waiting; each check waits for a tick of the link.
TEST(MulticastProtocol, AHeldChordSoundsUntilItsNoteOffsOrItsMemberIsSurelyGone) {
  REQUIRE_REAL_PART(privateNetwork().empty(), "multicast protocol test: missing " << privateNetwork());
  auto owned = std::make_unique<test::ScriptedMidiService>();
  test::ScriptedMidiService& midi = *owned;
  test::Side side(std::move(owned));
  side.settings.inputPosition = side.settings.outputPosition = 1;
  side.options.protocol = settings::Protocol::Multicast;
  std::int64_t skew = 0;
  side.link.setClock([&] { return monotonicMicros() + skew; });
  int ticks = 0;
  QObject::connect(&side.link, &link::Link::figuresChanged, [&] { ++ticks; });
  const auto later = [&](std::int64_t micros) {
    skew += micros;
    ASSERT_TRUE(waitFor([&, before = ticks] { return ticks > before; }));
  };
  const auto played = [&] { return midi.playedPerOutput().at(0); };
  const auto note = [](std::uint8_t status, std::uint8_t key) { return midi::ShortMessage::withStatusSize(status, key); };

  ASSERT_TRUE(side.start());
  EXPECT_EQ(side.link.statusText(), "Group joined - no member heard");
  Member organ, keys;
  ASSERT_TRUE(organ.start() && keys.start());
  organ.play({{0x90, 60, 100}, {0x90, 64, 100}, {0x90, 67, 100}});
  keys.play({{0x91, 48, 90}});
  ASSERT_TRUE(waitFor([&] { return played().size() == 4; }));
  EXPECT_EQ(side.link.statusText(), "Group joined - 2 members heard");
  // Far short of the limit, so that the real time the test takes does not count.
  later(MulticastProtocol::kMemberGoneMicros - 10'000'000);
  EXPECT_EQ(played().size(), 4u) << "released during a held chord";
  organ.play({{0x80, 60, 0}});
  ASSERT_TRUE(waitFor([&] { return played().size() == 5; }));
  later(12'000'000);  // the keys are silent past the limit, the organ is not
  ASSERT_TRUE(waitFor([&] { return played().size() == 6; }));
  EXPECT_EQ(played().back(), note(0x81, 48));
  EXPECT_EQ(side.link.statusText(), "Group joined - 1 member heard");
  EXPECT_EQ(side.status, LinkStatus::Connected);
  side.link.stop();
  const auto all = played();
  EXPECT_EQ(std::vector(all.begin() + 6, all.end()), (std::vector{note(0x80, 64), note(0x80, 67)}));
  EXPECT_EQ(side.link.statusText(), "Not Connected");
}

// A message the protocol cannot carry (from a MIDI service that let it through
// half-formed) is said once, naming the protocol in use.
TEST(MulticastProtocol, WhatTheLinkDoesNotCarryIsSaidOnceInTheProtocolsName) {
  REQUIRE_REAL_PART(privateNetwork().empty(), "multicast protocol test: missing " << privateNetwork());
  auto owned = std::make_unique<test::ScriptedMidiService>();
  test::ScriptedMidiService& midi = *owned;
  test::Side side(std::move(owned));
  side.options.protocol = settings::Protocol::Multicast;
  ASSERT_TRUE(side.start()) << side.boxes.texts().join(u'\n').toStdString();
  for (int k = 0; k < 2; ++k) ASSERT_TRUE(midi.deliver(midi::ShortMessage{{0x90, 0x3C, 0x00}, 2}));
  ASSERT_TRUE(waitFor([&] { return !side.boxes.boxes.empty(); }));
  settle(100);
  EXPECT_EQ(side.boxes.texts(), QStringList{"A message from the MIDI input is not sent to the peer: the multicast "
                                            "peer protocol takes whole MIDI messages only."});
}

TEST(MulticastProtocol, RefusedValuesAreNamedInOneBoxAndNothingOpens) {
  Member m;
  settings::Settings s;
  s.remoteHost = QStringLiteral("10.0.0.1");
  s.remotePort = QStringLiteral("65536");
  s.localHost = QStringLiteral("300.1.2.3");
  const protocol::StartOutcome refused = m.protocol.start(startWith(s, 0));
  EXPECT_EQ(refused.result, protocol::StartOutcome::Result::Refused);
  EXPECT_EQ(refused.refused, protocol::SettingsField::RemoteHost);
  EXPECT_FALSE(m.protocol.running());
  ASSERT_EQ(m.boxes.boxes.size(), 1);
  EXPECT_EQ(m.boxes.boxes[0].text.split(u'\n'),
            (QStringList{"Remote IP Address must be a multicast group (224.0.0.0 to 239.255.255.255) or empty for the "
                         "usual 225.0.0.37:21928",
                         "Remote Port value must be between 1 and 65535", "Invalid format for Local IP Address",
                         "TTL value must be between 1 and 255"}));
  EXPECT_EQ(m.protocol.send(midi::MidiEventView(Bytes{0x90, 0x3C, 0x64}), 0), protocol::SendResult::Failed);

  // Empty fields: the gateways' group and port, the system's interface; a local
  // port is no concern of a group.
  settings::Settings empty;
  empty.localPort = QStringLiteral("not a port");
  empty.remotePort = QStringLiteral("4000");  // a classic setup's, which a group without its address ignores
  const GroupCheck defaults = checkGroupSettings(empty, 4, m.sink);
  ASSERT_TRUE(defaults.options);
  EXPECT_EQ(ntohl(defaults.options->group), kDefaultGroupHostOrder);
  EXPECT_EQ(defaults.options->port, kDefaultPort);
  EXPECT_EQ(defaults.options->interfaceAddress, htonl(INADDR_ANY));
  EXPECT_EQ(defaults.options->ttl, 4);
}
