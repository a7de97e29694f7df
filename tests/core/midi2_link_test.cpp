// Two Network MIDI 2.0 protocols on real loopback sockets, a host and its client,
// each with its own recording sink: the session, MIDI both ways byte-exact, the
// end of the session when one stops; over a relay that drops datagrams, every
// message once all the same.
#include <gtest/gtest.h>

#include <QRegularExpression>

#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <set>

#include "net/read_notifier.h"
#include "net/udp_socket.h"

#include "link/status_text.h"
#include "protocol/admission.h"
#include "protocol/midi2/midi2_protocol.h"
#include "support/rtp_end.h"
#include "support/side.h"
#include "support/sysex_bytes.h"

namespace strandlink::test {
namespace {

struct Midi2End {
  explicit Midi2End(int localPort) : port(localPort) {}
  bool start(std::optional<int> hostPort) {
    protocol::PeerStart s;
    s.settings.localHost = QStringLiteral("127.0.0.1");
    s.settings.localPort = QString::number(port);
    if (hostPort) {
      s.settings.remoteHost = QStringLiteral("127.0.0.1");
      s.settings.remotePort = QString::number(*hostPort);
    }
    s.name = QStringLiteral("end %1").arg(port);
    return midi2.start(s).running();
  }
  bool connected() const { return sink.status == protocol::LinkStatus::Connected; }

  int port;
  RecordingBoxes boxes;
  report::Reporter reporter{boxes};
  RecordingPeerSink sink{reporter};
  protocol::PeerFilter filter;
  protocol::Admission admission;
  protocol::midi2::Midi2Protocol midi2{{sink, filter, admission}};
};

// Between a client (which invites it) and a host: drops what the client sends
// when the new command, the last, holds a note-on of a number in `drops`, once;
// or three datagrams from the client in a row whenever loseBurst says so, or the
// next `losing` + 1; or each one that holds the packet `neverPass` anywhere.
struct DroppingRelay {
  DroppingRelay(int port, int hostPort, std::set<int> dropped) : host(std::uint16_t(hostPort)), drops(std::move(dropped)) {
    net::SocketError e{};
    socket = net::UdpSocket::create(e);
    (void)socket.bind(net::makeAddress(htonl(INADDR_LOOPBACK), std::uint16_t(port)));
    notifier = std::make_unique<net::ReadNotifier>(socket.descriptor(), [this] { relay(); });
  }
  void relay() {
    std::vector<std::uint8_t> d(2048);
    sockaddr_in from{};
    const net::Transfer read = socket.receiveFrom(d, from);
    if (!read.ok()) return;
    d.resize(std::size_t(read.bytes));
    const bool fromHost = ntohs(from.sin_port) == host;
    if (!fromHost) client = from;
    bool drop = !fromHost && d.size() >= 8 && d[d.size() - 8] == 0xFF && d[d.size() - 3] == 0x90 &&
                drops.erase(d[d.size() - 2]) > 0;
    if (!fromHost && (losing > 0 || (loseBurst && loseBurst()))) {
      losing = losing > 0 ? losing - 1 : 2;
      drop = true;
    }
    if (!fromHost && neverPass) {
      const std::uint8_t packet[4] = {std::uint8_t(*neverPass >> 24), std::uint8_t(*neverPass >> 16),
                                      std::uint8_t(*neverPass >> 8), std::uint8_t(*neverPass)};
      drop = drop || std::ranges::search(d, packet).begin() != d.end();
    }
    lost += drop ? 1 : 0;
    if (!drop) (void)socket.sendTo(d, fromHost ? client : net::makeAddress(htonl(INADDR_LOOPBACK), host));
  }
  std::uint16_t host;
  std::set<int> drops;
  std::function<bool()> loseBurst;
  std::optional<std::uint32_t> neverPass;
  int losing = 0;  // still to lose of the burst
  int lost = 0;
  net::UdpSocket socket;
  std::unique_ptr<net::ReadNotifier> notifier;
  sockaddr_in client{};
};

}  // namespace

TEST(Midi2Link, HostAndClientCarryEveryKindBothWaysAndEndTogether) {
  Midi2End host(freePortPair()), guest(freePortPair());
  ASSERT_TRUE(host.start(std::nullopt));
  ASSERT_TRUE(guest.start(host.port));
  ASSERT_TRUE(waitFor([&] { return host.connected() && guest.connected(); }, 5000));
  const std::vector<std::vector<std::uint8_t>> messages = {
      {0x90, 60, 100}, {0x80, 60, 0}, {0xB3, 7, 127}, {0xC9, 5}, {0xD2, 9},  {0xA1, 60, 3}, {0xE0, 0x00, 0x40},
      {0xF8},          {0xF2, 1, 2},  {0xF1, 0x23}, sysExOf(5), sysExOf(midi::kMaxMessageBytes), {0xFE}};
  for (const auto& m : messages) ASSERT_EQ(guest.midi2.send(midi::MidiEventView(m), 0), protocol::SendResult::Sent);
  ASSERT_TRUE(waitFor([&] { return host.sink.events.size() >= messages.size(); }));
  ASSERT_EQ(host.sink.events.size(), messages.size());
  for (std::size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(host.sink.events[i].bytes, messages[i]) << i;
  // And back, from the host to its client.
  ASSERT_EQ(host.midi2.send(midi::MidiEventView(messages[10]), 0), protocol::SendResult::Sent);
  ASSERT_TRUE(waitFor([&] { return !guest.sink.events.empty(); }));
  EXPECT_EQ(guest.sink.events[0].bytes, messages[10]);
  const QString figures = link::figuresText(host.midi2.figures());
  EXPECT_TRUE(figures.contains(QStringLiteral("1 peer in session (127.0.0.1:"))) << figures.toStdString();
  EXPECT_TRUE(figures.contains(QStringLiteral("lost 0 commands, 0 dropped"))) << figures.toStdString();
  guest.midi2.stop();
  ASSERT_TRUE(waitFor([&] { return !host.connected(); }, 5000));
  EXPECT_TRUE(host.sink.notices.contains(
      QStringLiteral("Network MIDI 2.0 session with end %1 ended: it ended the session").arg(guest.port)))
      << host.sink.notices.join(u'\n').toStdString();
}

// Of two clients, the one that leaves takes its own notes with it, not those the
// other still holds; the other's fall is the link's.
TEST(Midi2Link, AClientThatLeavesTakesOnlyItsOwnNotes) {
  Midi2End host(freePortPair()), one(freePortPair()), other(freePortPair());
  ASSERT_TRUE(host.start(std::nullopt) && one.start(host.port) && other.start(host.port));
  ASSERT_TRUE(waitFor([&] { return host.midi2.session()->established() == 2; }, 5000));
  for (const auto& [end, note] : {std::pair{&one, 60}, {&one, 62}, {&other, 62}}) {
    const std::uint8_t on[3] = {0x90, std::uint8_t(note), 100};
    ASSERT_EQ(end->midi2.send(midi::MidiEventView(std::span(on)), 0), protocol::SendResult::Sent);
    ASSERT_TRUE(waitFor([&, before = host.sink.events.size()] { return host.sink.events.size() > before; }));
  }
  one.midi2.stop();
  ASSERT_TRUE(waitFor([&] { return host.midi2.session()->established() == 1; }, 5000));
  EXPECT_EQ(host.sink.released, (std::vector<std::vector<std::uint8_t>>{{0x80, 60, 0}}));
  EXPECT_TRUE(host.connected());
}

// A host that asks the user about a client keeps it pending, says so once, and
// lets it in on the answer, with no further invitation from the client.
TEST(Midi2Link, AHostThatAsksKeepsTheClientPendingUntilTheUserAllowsIt) {
  Midi2End host(freePortPair()), guest(freePortPair());
  host.admission.configure(settings::Admission::Ask, {}, {});
  ASSERT_TRUE(host.start(std::nullopt) && guest.start(host.port));
  const QString asks =
      QStringLiteral("end %1 at 127.0.0.1:%1 asks to link over Network MIDI 2.0: allow it or refuse it").arg(guest.port);
  ASSERT_TRUE(waitFor([&] { return host.sink.notices.contains(asks); })) << host.sink.notices.join(u'\n').toStdString();
  ASSERT_FALSE(waitFor([&] { return guest.connected(); }, 300));
  host.admission.answer({"127.0.0.1", QStringLiteral("end %1").arg(guest.port).toStdString()},
                        protocol::InviterAnswer::AllowOnce);
  host.midi2.inviterAnswered();
  EXPECT_TRUE(waitFor([&] { return host.connected() && guest.connected(); }, 1000));
  EXPECT_EQ(host.sink.notices.count(asks), 1);
}

// Notes 63 to 65 lost in a row: the copies in the next datagram bring two, a
// request the third. The last, 69, lost too: the empty commands after it bring it.
TEST(Midi2Link, LostDatagramsAreMadeGoodByCopiesAndRequests) {
  Midi2End host(freePortPair()), guest(freePortPair());
  const int relayPort = freePortPair();
  DroppingRelay relay(relayPort, host.port, {63, 64, 65, 69});
  ASSERT_TRUE(host.start(std::nullopt));
  ASSERT_TRUE(guest.start(relayPort));
  ASSERT_TRUE(waitFor([&] { return host.connected() && guest.connected(); }, 5000));
  std::vector<int> notes;
  for (std::uint8_t n = 60; n < 70; ++n) {
    const std::uint64_t before = guest.midi2.figures().link.datagramsOut;
    const std::uint8_t on[3] = {0x90, n, 100};
    ASSERT_EQ(guest.midi2.send(midi::MidiEventView(std::span(on)), 0), protocol::SendResult::Sent);
    ASSERT_TRUE(waitFor([&] { return guest.midi2.figures().link.datagramsOut > before; }));
    notes.push_back(n);
  }
  ASSERT_TRUE(waitFor([&] { return host.sink.events.size() >= notes.size(); }, 5000));
  std::vector<int> heard;
  for (const Received& r : host.sink.events) heard.push_back(r.bytes.at(1));
  EXPECT_EQ(heard, notes);
  EXPECT_TRUE(relay.drops.empty()) << relay.drops.size();
  // 64, 65 and 69 came as copies, 63 when asked for (once, or again if the
  // answer was slow).
  const QString figures = link::figuresText(host.midi2.figures());
  EXPECT_TRUE(figures.contains(QRegularExpression(
      QStringLiteral(", 3 commands made good by copies, asked again \\d times? \\(1 command came\\), "
                     "sent again 0 times, lost 0 commands"))))
      << figures.toStdString();
}

// A note-off that never gets through, nor its copies, nor its resends: the
// commands after it wait, then go on without it, and the host lets go of what
// the client held, the note whose end was lost with it.
TEST(Midi2Link, ACommandThatNeverComesReleasesWhatItMayHaveEnded) {
  Midi2End host(freePortPair()), guest(freePortPair());
  const int relayPort = freePortPair();
  DroppingRelay relay(relayPort, host.port, {});
  relay.neverPass = 0x20803D40;  // note 61 off
  ASSERT_TRUE(host.start(std::nullopt));
  ASSERT_TRUE(guest.start(relayPort));
  ASSERT_TRUE(waitFor([&] { return host.connected() && guest.connected(); }, 5000));
  const std::vector<std::vector<std::uint8_t>> played = {
      {0x90, 60, 100}, {0x90, 61, 100}, {0x80, 61, 64}, {0x90, 62, 100}, {0x90, 63, 100}, {0x90, 64, 100}};
  for (const auto& m : played) {
    const std::uint64_t before = guest.midi2.figures().link.datagramsOut;
    ASSERT_EQ(guest.midi2.send(midi::MidiEventView(std::span(m)), 0), protocol::SendResult::Sent);
    ASSERT_TRUE(waitFor([&] { return guest.midi2.figures().link.datagramsOut > before; }));
  }
  ASSERT_TRUE(waitFor([&] { return host.sink.events.size() >= 5; }, 3000));
  std::vector<int> heard;
  for (const Received& r : host.sink.events) heard.push_back(r.bytes.at(1));
  EXPECT_EQ(heard, (std::vector<int>{60, 61, 62, 63, 64}));
  const std::vector<std::vector<std::uint8_t>> released = {{0x80, 60, 0}, {0x80, 61, 0}};
  EXPECT_EQ(host.sink.released, released);
  EXPECT_EQ(host.midi2.figures().link.commandsLost, 1u);
}

// A lossy network: one datagram in twenty from the client lost, three at a time,
// answers to requests as well as new data; at the end the last note and the four
// empty commands after it. Every note arrives all the same, once, and in the
// order it was played.
TEST(Midi2Link, BurstsOfLossAreAllMadeGood) {
  Midi2End host(freePortPair()), guest(freePortPair());
  const int relayPort = freePortPair();
  DroppingRelay relay(relayPort, host.port, {});
  ASSERT_TRUE(host.start(std::nullopt));
  ASSERT_TRUE(guest.start(relayPort));
  ASSERT_TRUE(waitFor([&] { return host.connected() && guest.connected(); }, 5000));
  std::mt19937 random(7);
  relay.loseBurst = [&] { return random() % 60 == 0; };  // 3 of 60 datagrams
  constexpr int kNotes = 2000;  // and one more at the end
  for (int i = 0; i < kNotes; ++i) {
    const std::uint64_t before = guest.midi2.figures().link.datagramsOut;
    const std::uint8_t on[3] = {std::uint8_t(0x90 | (i >> 7 & 0x0F)), std::uint8_t(i & 0x7F), 100};
    ASSERT_EQ(guest.midi2.send(midi::MidiEventView(std::span(on)), 0), protocol::SendResult::Sent);
    ASSERT_TRUE(waitFor([&] { return guest.midi2.figures().link.datagramsOut > before; }));
    settle(1);  // about a thousand a second, as a busy player's
  }
  relay.loseBurst = nullptr;
  relay.losing = 5;
  const std::uint8_t last[3] = {0x90 | (kNotes >> 7 & 0x0F), kNotes & 0x7F, 100};
  ASSERT_EQ(guest.midi2.send(midi::MidiEventView(std::span(last)), 0), protocol::SendResult::Sent);
  EXPECT_TRUE(waitFor([&] { return host.sink.events.size() > std::size_t(kNotes); }, 8000))
      << host.sink.events.size() << " of " << kNotes + 1 << ", lost " << relay.lost;
  std::vector<int> heard;
  for (const Received& r : host.sink.events) heard.push_back((r.bytes.at(0) & 0x0F) << 7 | r.bytes.at(1));
  std::vector<int> played(kNotes + 1);
  std::iota(played.begin(), played.end(), 0);
  const auto [differs, _] = std::ranges::mismatch(heard, played);
  EXPECT_EQ(heard.size(), played.size());
  EXPECT_EQ(differs, heard.end()) << "heard " << heard.size() << ", the first out of place at "
                                  << differs - heard.begin();
  EXPECT_GE(relay.lost, 65);
}

}  // namespace strandlink::test
