// Two RTP-MIDI protocols on real loopback sockets, each with its own recording
// sink: sessions, MIDI both ways byte-exact with the sender's times, bad packets.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>
#include <QtEndian>

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "support/rtp_end.h"
#include "support/side.h"
#include "support/sysex_bytes.h"

namespace strandlink::test {
namespace {

class RtpLinkTest : public ::testing::Test {
 protected:
  // a invites, b waits for it.
  void connect() {
    ASSERT_TRUE(b->start(std::nullopt));
    ASSERT_TRUE(a->start(b->port));
    ASSERT_TRUE(waitFor([&] { return a->connected() && b->connected(); }, 5000));
  }
  std::unique_ptr<End> a = std::make_unique<End>(freePortPair());
  std::unique_ptr<End> b = std::make_unique<End>(freePortPair());
};

// Every kind of message, and a SysEx of the longest an input delivers (segmented
// over some fifty packets), arrive whole, in order, with the times they were
// played on the sender's clock.
TEST_F(RtpLinkTest, MessagesCrossByteExactWithTheSendersTimes) {
  connect();
  const std::vector<std::vector<std::uint8_t>> messages = {
      {0x90, 60, 100}, {0x80, 60, 0}, {0xB3, 7, 127}, {0xC9, 5}, {0xE0, 0x00, 0x40},
      {0xF8},          {0xF2, 1, 2},  sysExOf(5),      sysExOf(midi::kMaxMessageBytes), {0xFE}};
  const std::int64_t t0 = 1'000'000'000;
  for (std::size_t i = 0; i < messages.size(); ++i)
    ASSERT_EQ(a->rtp.send(midi::MidiEventView(messages[i]), t0 + std::int64_t(i) * 2500),
              protocol::SendResult::Sent);
  ASSERT_TRUE(waitFor([&] { return b->sink.events.size() >= messages.size(); }));
  ASSERT_EQ(b->sink.events.size(), messages.size());
  for (std::size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(b->sink.events[i].bytes, messages[i]) << "message " << i;
    ASSERT_TRUE(b->sink.events[i].stamp);
    EXPECT_EQ(std::uint32_t(*b->sink.events[i].stamp - *b->sink.events[0].stamp), i * 2500) << "message " << i;
  }
  // And back, through the responder's own sending.
  ASSERT_EQ(b->rtp.send(midi::MidiEventView(messages[8]), t0), protocol::SendResult::Sent);
  ASSERT_TRUE(waitFor([&] { return !a->sink.events.empty(); }));
  EXPECT_EQ(a->sink.events[0].bytes, messages[8]);
  const QString figures = link::figuresText(a->rtp.figures());
  EXPECT_TRUE(figures.contains(QStringLiteral("lost 0 packets"))) << figures.toStdString();
}

// A MIDI thread sending 20,000 messages a second for a second, in cycles of a
// millisecond: none lost, none reordered.
TEST_F(RtpLinkTest, TwentyThousandMessagesASecondArriveInOrder) {
  connect();
  constexpr int kCycles = 1000, kPerCycle = 20;
  std::atomic<int> failed{0};
  std::thread midiThread([&] {
    for (int c = 0; c < kCycles; ++c) {
      for (int k = 0; k < kPerCycle; ++k) {
        const int n = c * kPerCycle + k;
        const std::uint8_t m[3] = {std::uint8_t(0xB0 | (n >> 14 & 0x0F)), std::uint8_t(n >> 7 & 0x7F),
                                   std::uint8_t(n & 0x7F)};
        if (a->rtp.send(midi::MidiEventView(std::span(m)), std::int64_t(c) * 1000) != protocol::SendResult::Sent)
          ++failed;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const bool all = waitFor([&] { return b->sink.events.size() >= std::size_t(kCycles * kPerCycle); }, 20000);
  midiThread.join();
  EXPECT_EQ(failed.load(), 0);
  ASSERT_TRUE(all) << b->sink.events.size();
  for (int n = 0; n < kCycles * kPerCycle; ++n) {
    const auto& e = b->sink.events[std::size_t(n)].bytes;
    ASSERT_EQ(((e[0] & 0x0F) << 14) | (e[1] << 7) | e[2], n);
  }
}

// While MIDI comes in, receiver feedback goes back about once a second naming
// the newest packet, not only when a clock sync wakes the session.
TEST_F(RtpLinkTest, ReceiverFeedbackFollowsTheData) {
  ASSERT_TRUE(b->start(std::nullopt));
  const int port = freePortPair();
  RawPeer control(port), data(port + 1);
  const QByteArray invitation("\xFF\xFFIN\x00\x00\x00\x02\x00\x00\x00\x07\x0A\x0B\x0C\x0Draw", 21);
  for (RawPeer* side : {&control, &data}) {
    side->sendTo(b->port + (side == &data), invitation);
    const auto answer = side->receive();
    ASSERT_TRUE(answer && answer->mid(2, 2) == "OK");
  }
  std::vector<std::uint16_t> named;
  std::uint16_t sequence = 0;
  QElapsedTimer sent;  // a packet every 10 ms, as a player would
  ASSERT_TRUE(waitFor([&] {
    if (!sent.isValid() || sent.elapsed() >= 10) {
      QByteArray packet("\x80\x61\x00\x00\x00\x00\x00\x00\x0A\x0B\x0C\x0D\x03\x90\x3C\x40", 16);
      packet[2] = char(sequence >> 8), packet[3] = char(sequence++);
      data.sendTo(b->port + 1, packet);
      sent.start();
    }
    while (auto got = data.receive(0))  // the sync answered, so that it wakes the session only every 25 s
      if (got->size() == 36 && got->mid(2, 2) == "CK" && got->at(8) == 0)
        got->replace(4, 5, QByteArray("\x0A\x0B\x0C\x0D\x01", 5)), got->replace(20, 8, got->mid(12, 8)),
            data.sendTo(b->port + 1, *got);
    while (const auto got = control.receive(0))
      if (got->size() == 12 && got->mid(2, 2) == "RS") named.push_back(qFromBigEndian<std::uint16_t>(got->data() + 8));
    return named.size() >= 3;
  }, 10000)) << named.size();
  EXPECT_TRUE(std::is_sorted(named.begin(), named.end()) && named.back() < sequence);
}

// A stop says goodbye: the peer is "Not Connected" at once, not a minute later;
// and the same port starts again and is let back in.
TEST_F(RtpLinkTest, StopEndsThePeersSessionAndARestartIsLetBackIn) {
  connect();
  a->rtp.stop();
  ASSERT_TRUE(waitFor([&] { return !b->connected(); }, 2000));
  ASSERT_TRUE(a->start(b->port));
  EXPECT_TRUE(waitFor([&] { return a->connected() && b->connected(); }, 3000));
}

// Two copies that each invite two others, one of them each other: every pair
// shares one session, and what any of the three plays reaches the other two once.
TEST_F(RtpLinkTest, CopiesThatInviteSeveralPeersShareOneSessionEach) {
  End c(freePortPair());
  ASSERT_TRUE(c.start(std::nullopt));
  ASSERT_TRUE(a->start(b->port, {c.port}));
  ASSERT_TRUE(b->start(a->port, {c.port}));
  ASSERT_TRUE(waitFor([&] {
    return a->rtp.participantsLinked() == 2 && b->rtp.participantsLinked() == 2 && c.rtp.participantsLinked() == 2;
  }, 8000)) << a->rtp.participantsLinked() << b->rtp.participantsLinked() << c.rtp.participantsLinked();
  std::array<End*, 3> ends{a.get(), b.get(), &c};
  for (std::uint8_t from = 0; from < 3; ++from) {
    const std::uint8_t note[3] = {0x90, std::uint8_t(60 + from), 100};
    ASSERT_EQ(ends[from]->rtp.send(midi::MidiEventView(note), 0), protocol::SendResult::Sent);
  }
  ASSERT_TRUE(waitFor([&] { return std::ranges::all_of(ends, [](End* e) { return e->sink.events.size() >= 2; }); }));
  settle(300);  // and nothing twice
  for (std::size_t to = 0; to < 3; ++to) {
    std::vector<int> heard;
    for (const Received& r : ends[to]->sink.events) heard.push_back(r.bytes.at(1));
    std::ranges::sort(heard);
    std::vector<int> others;
    for (int from = 0; from < 3; ++from)
      if (std::size_t(from) != to) others.push_back(60 + from);
    EXPECT_EQ(heard, others) << "at " << to;
  }
}

// A data port in use refuses the Start with one box naming it and the Local Port
// to mend (never the end of the program), and leaves nothing open.
TEST_F(RtpLinkTest, ADataPortInUseRefusesTheStartAndLeavesTheControlPortFree) {
  {
    RawPeer holder(a->port + 1);
    protocol::PeerStart s;
    s.settings = {QString(), QString(), QStringLiteral("127.0.0.1"), QString::number(a->port), -1, -1, true};
    const protocol::StartOutcome outcome = a->rtp.start(s);
    EXPECT_TRUE(outcome.result == protocol::StartOutcome::Result::Refused &&
                outcome.refused == protocol::SettingsField::LocalPort);
    ASSERT_EQ(a->boxes.boxes.size(), 1);
    EXPECT_TRUE(a->boxes.texts()[0].contains(QStringLiteral("(local port %1, the data port").arg(a->port + 1)))
        << a->boxes.texts()[0].toStdString();
    EXPECT_FALSE(a->rtp.running());
  }
  connect();
}

// With no descriptor left, a Start ends the program, after the reason and the box
// that says so.
TEST_F(RtpLinkTest, ASocketTheSystemWillNotMakeEndsTheProgram) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlimit none{0, limit.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  protocol::PeerStart s;
  s.settings = {QString(), QString(), QStringLiteral("127.0.0.1"), QString::number(a->port), -1, -1, true};
  const protocol::StartOutcome outcome = a->rtp.start(s);
  setrlimit(RLIMIT_NOFILE, &limit);
  EXPECT_EQ(outcome.result, protocol::StartOutcome::Result::CannotCreateSocket);
  EXPECT_EQ(a->boxes.texts().join('|'),
            "Tried to create an RTP-MIDI socket:  Too many open files.| Cannot create socket.....exit program");
}

// A classic side's MIDI at the control port is told of once, not as malformed packets.
TEST_F(RtpLinkTest, AClassicPeerIsToldOfOnceNotAsMalformedPackets) {
  ASSERT_TRUE(a->start(std::nullopt));
  RawPeer classic(freePortPair());
  for (int i = 0; i < 3; ++i) classic.sendTo(a->port, QByteArray("\x90\x3C\x64", 3));
  classic.sendTo(a->port, QByteArray("\x40", 1));  // read after them: a malformed packet
  ASSERT_TRUE(waitFor([&] { return !a->sink.notices.filter(QStringLiteral("malformed")).isEmpty(); }));
  EXPECT_EQ(a->sink.notices.size(), 2) << a->sink.notices.join('\n').toStdString();
  EXPECT_EQ(a->sink.notices.first(), "This port gets classic MIDI datagrams: choose Classic, or set the peer to RTP-MIDI");
}

// Garbage on both ports is dropped with one line, the session stands, and MIDI
// still passes; an invitation from a host the remote does not name gets NO.
TEST_F(RtpLinkTest, BadPacketsAreDroppedWithOneLineAndStrangersRefused) {
  connect();
  RawPeer garbler(freePortPair());
  const QByteArray garbage[] = {QByteArray("\xFF\xFFIN", 4), QByteArray("\xFF\xFF\x43\x4B\x00", 5),
                                QByteArray("\x80\x61\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x8F", 13),
                                QByteArray("\x80\x61\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x43\xF0\x01", 15),
                                QByteArray("\x40", 1), QByteArray()};
  for (const QByteArray& g : garbage) {
    garbler.sendTo(a->port, g);
    garbler.sendTo(a->port + 1, g);
  }
  settle(300);
  EXPECT_EQ(a->sink.notices.filter(QStringLiteral("malformed")).size(), 1) << a->sink.notices.join('\n').toStdString();
  EXPECT_TRUE(a->connected());
  const std::uint8_t note[3] = {0x90, 1, 2};
  ASSERT_EQ(a->rtp.send(midi::MidiEventView(std::span(note)), 0), protocol::SendResult::Sent);
  EXPECT_TRUE(waitFor([&] { return b->sink.events.size() == 1; }));

  // 127.0.0.2 is this machine too, but not the remote a names: NO, and one line
  // per inviter saying who and why; with the peer filter on, the filter's reason.
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  sockaddr_in from = loopback(0);
  from.sin_addr.s_addr = htonl(0x7F000002);
  socklen_t length = sizeof from;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&from), &length), 0);
  const auto invite = [&](char name) {
    const char invitation[] = {'\xFF', '\xFF', 'I', 'N', 0, 0, 0, 2, 0x12, 0x34, 0x56, 0x78, 0x0A, 0x0B, 0x0C, 0x0D, name, 0};
    const sockaddr_in to = loopback(a->port);
    ::sendto(fd, invitation, sizeof invitation, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    std::uint8_t answer[64] = {};
    ssize_t got = -1;
    waitFor([&] { return got > 0 || (got = ::recv(fd, answer, sizeof answer, 0)) > 0; }, 3000);
    return got >= 4 ? std::string(reinterpret_cast<char*>(answer) + 2, 2) : std::string();
  };
  const QString who = QStringLiteral("Refused an RTP-MIDI invitation from %2 at 127.0.0.2:%1: only ").arg(ntohs(from.sin_port));
  EXPECT_EQ(invite('x'), "NO");
  EXPECT_EQ(invite('x'), "NO");
  a->filter.setEnabled(true);
  EXPECT_EQ(invite('y'), "NO");
  ::close(fd);
  EXPECT_EQ(a->sink.notices.filter(QStringLiteral("Refused")),
            QStringList({who.arg('x') + QStringLiteral("127.0.0.1:%1 may link (the remote in the settings)").arg(b->port),
                         who.arg('y') + QStringLiteral("127.0.0.1 may link (peer filter)")}));
  EXPECT_TRUE(a->connected());
}

}  // namespace
}  // namespace strandlink::test
