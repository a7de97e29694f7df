// One link on real loopback sockets and our own ports on the test JACK server:
// Start, Stop and their failure paths, chat, the peer filter and the counters.
#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSignalSpy>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/command_line.h"
#include "link/notice_text.h"
#include "protocol/classic/oversize_notice.h"
#include "settings/preferences.h"
#include "support/real_part.h"
#include "support/side.h"
#include "support/stub_midi.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

// A sender bound to another loopback address than the configured peer's.
class ThirdHost {
 public:
  ThirdHost() : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(0x7F000002);
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~ThirdHost() { ::close(fd_); }
  bool bound() const { return bound_; }
  int port() const {
    sockaddr_in a{};
    socklen_t size = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size);
    return ntohs(a.sin_port);
  }
  void sendTo(int port, const QByteArray& bytes) {
    const sockaddr_in a = loopback(port);
    ::sendto(fd_, bytes.constData(), std::size_t(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
  }

 private:
  int fd_;
  bool bound_ = false;
};

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
    port = freePortPair();
    peerPort = freePortPair();
    side = makeSide("LinkTest", port, peerPort);
  }
  bool start() {
    const bool ok = side->start();
    EXPECT_TRUE(ok) << side->boxes.texts().join("; ").toStdString();
    return ok;
  }
  std::uint64_t received() const { return side->link.counts().received; }

  std::unique_ptr<Side> side;
  int port = 0, peerPort = 0;
};

}  // namespace

TEST_F(LinkTest, StartAndStopOpenAndCloseEverythingRepeatedly) {
  QSignalSpy running(&side->link, &link::Link::runningChanged);
  for (int round = 1; round <= 2; ++round) {
    ASSERT_TRUE(start());
    EXPECT_TRUE(side->link.running());
    // A datagram from anywhere is counted; the count carries over into the next session.
    RawPeer third(freePortPair());
    third.sendTo(port, QByteArray("\x90\x3c\x40", 3));
    EXPECT_TRUE(waitFor([&] { return received() == std::uint64_t(round); }));
    side->link.stop();
    EXPECT_FALSE(side->link.running());
    // Both ports are free again at once.
    RawPeer midiPort(port), chatPort(port + 1);
  }
  EXPECT_TRUE(side->boxes.boxes.isEmpty());
  ASSERT_EQ(running.size(), 4);
  EXPECT_EQ(running[0][0].toBool(), true);
  EXPECT_EQ(running[1][0].toBool(), false);
}

// No descriptor left: the boxes say why, and the front end hears that the link
// cannot go on (the core itself ends nothing).
TEST_F(LinkTest, ASocketTheSystemWillNotMakeIsLeftToTheFrontEnd) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlimit none{0, limit.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
  const bool started = side->start();
  setrlimit(RLIMIT_NOFILE, &limit);
  EXPECT_TRUE(!started && !side->link.running() && side->fatalExits == 1);
  EXPECT_EQ(side->boxes.texts().last(), " Cannot create socket.....exit program");
}

TEST_F(LinkTest, AFailedBindNamesItsContextClosesBothSocketsAndTheNextStartWorks) {
  {
    RawPeer holder(port + 1);
    EXPECT_FALSE(side->start());
    EXPECT_EQ(side->boxes.texts(),
              QStringList{QString("Tried to bind Chat socket:  Address already in use. (local port %1, the chat "
                                  "port, one above the Local Host Port %2)")
                              .arg(port + 1)
                              .arg(port)});
    EXPECT_EQ(side->boxes.boxes[0].title, "Network Error");
    EXPECT_TRUE(!side->link.running() && side->link.startProblem() == protocol::SettingsField::LocalPort);
    RawPeer midiPort(port);  // not left bound
  }
  EXPECT_TRUE(start());
}

TEST_F(LinkTest, UnacceptableValuesOpenNothingAndOneBoxListsThemInOrderNamingTheFirst) {
  const QString localPort = "Local Port value must be between 1 and 65535",
                remotePort = "Remote Port value must be between 1 and 65535",
                noChatPort = "Remote Port value must be at most 65534: the chat uses the port above it",
                remoteIp = "Invalid format for Remote IP Address", localIp = "Invalid format for Local IP Address";
  using F = protocol::SettingsField;
  const auto refused = [&](QString lp, QString rp, QString rh, QString lh, F first) {
    side->boxes.boxes.clear();
    side->settings.localPort = lp;
    side->settings.remotePort = rp;
    side->settings.remoteHost = rh;
    side->settings.localHost = lh;
    EXPECT_FALSE(side->start());
    EXPECT_EQ(side->link.startProblem(), first) << lp.toStdString() << " " << rh.toStdString();
    // One box lists them all, a line each.
    EXPECT_EQ(side->boxes.boxes.size(), 1);
    if (side->boxes.boxes.size() != 1) return side->boxes.texts();
    EXPECT_EQ(side->boxes.boxes[0].title, "Network Settings");
    return side->boxes.boxes[0].text.split('\n');
  };
  EXPECT_EQ(refused("", "", "", "", F::LocalPort), QStringList({localPort, remotePort, remoteIp, localIp}));
  EXPECT_EQ(refused("0", "65536", "300.1.1.1", "", F::LocalPort),
            QStringList({localPort, remotePort, remoteIp, localIp}));
  EXPECT_EQ(refused("4000", "4001", "255.255.255.255", "nosuch.invalid", F::RemoteHost),
            QStringList({remoteIp, "Could not find the host name nosuch.invalid for Local IP Address"}));
  EXPECT_EQ(refused("4000", "4001", "127.0.0.1", "0.0.0.0", F::LocalHost), QStringList{localIp});
  // What has no host name's shape is never looked up, nor quoted back.
  EXPECT_EQ(refused("4000", "4001", "\x1b[31mred", "127.0.0.1", F::RemoteHost), QStringList{remoteIp});
  // A name is not found rather than badly formed; an empty remote box goes on to it.
  EXPECT_EQ(refused("4000", "4001", "", "nosuch.invalid", F::RemoteHost),
            QStringList({remoteIp, "Could not find the host name nosuch.invalid for Local IP Address"}));
  const QString here = QString::number(port), lo = "127.0.0.1";
  for (const char* bad : {"65535", "65534.5"})
    EXPECT_EQ(refused(here, bad, lo, lo, F::RemotePort), QStringList{noChatPort}) << bad;
  for (const char* bad : {"0.5", "65535.5", "99999999999999999999"})
    EXPECT_EQ(refused(here, bad, lo, lo, F::RemotePort), QStringList{remotePort}) << bad;
  RawPeer midiPort(port);
  EXPECT_FALSE(side->link.running());
}

// One name for the session, published and offered by every protocol alike.
TEST(SessionName, IsTheNameGivenTrimmedEvenTheProgramsOwnElseTheHostName) {
  EXPECT_EQ(link::sessionName(QStringLiteral(" Studio A ")), QStringLiteral("Studio A"));
  EXPECT_EQ(link::sessionName(QStringLiteral("Strandlink")), QStringLiteral("Strandlink"));
  EXPECT_EQ(link::sessionName(QStringLiteral("  ")), QSysInfo::machineHostName());
}

// A device that is both an input and an output appears at different positions of
// the two lists; thru between them would feed the output back into the input.
TEST(ThruGuard, RefusesADeviceThatIsInputAndOutputWhereverItIsListed) {
  StubMidiService midi;
  midi.inputs = {"Strandlink:in", "Keys:out", "Loop Device"};
  midi.outputs = {"Strandlink:out", "Synth:in", "Other", "Loop Device"};
  RecordingBoxes boxes;
  link::Link l(midi, boxes);
  l.takeDeviceLists();
  EXPECT_TRUE(l.thruAllowed(2, 2) && l.thruAllowed(1, 1) && l.thruAllowed(-1, 3) && boxes.boxes.isEmpty());
  EXPECT_FALSE(l.thruAllowed(2, 3));
  ASSERT_EQ(boxes.boxes.size(), 1);
  EXPECT_EQ(boxes.boxes[0].title, "Strandlink Warning");
  EXPECT_EQ(boxes.boxes[0].text,
            "You will create a feedback loop...Change Midi Port settings or uncheck \"MidiThru\"");
  // Start with thru on refuses before anything is opened.
  settings::Settings s{"127.0.0.1", "4000", "127.0.0.1", "4100", 3, 2, true};
  EXPECT_FALSE(l.start(s, {.thru = true}));
  EXPECT_EQ(boxes.boxes.size(), 2);
}

TEST_F(LinkTest, ChatLinesTravelAsLatin1BytesAndAreSortedFromControlBytesByLength) {
  ASSERT_TRUE(start());
  RawPeer peerChat(peerPort + 1);
  const link::SentChatLine sent = side->link.sendChatLine(QString::fromUtf8("d\u00e9j\u00e0 \u65e5\U0001F3B9"));
  EXPECT_EQ(peerChat.receive(), QByteArray("d\xe9j\xe0 ??"));
  EXPECT_TRUE(sent.sent && !sent.cut && sent.text == QString::fromUtf8("d\u00e9j\u00e0 ??"));
  EXPECT_TRUE(side->link.sendChatLine(QString()).sent);
  EXPECT_EQ(peerChat.receive(), QByteArray());
  // One byte alone would be a probe to the peer; a line longer than the peer reads is cut.
  EXPECT_EQ(side->link.sendChatLine(QStringLiteral("\x01")).text, QStringLiteral("\x01 "));
  EXPECT_EQ(peerChat.receive(), QByteArray("\x01 "));
  const link::SentChatLine longLine = side->link.sendChatLine(QString(link::kChatLineLimit, u'a') + u'b');
  EXPECT_EQ(peerChat.receive(), QByteArray(link::kChatLineLimit, 'a'));
  EXPECT_TRUE(longLine.cut && longLine.text.size() == link::kChatLineLimit);

  peerChat.sendTo(port + 1, QByteArray());                // ignored
  peerChat.sendTo(port + 1, QByteArray("\x01\x02", 2));   // a chat line, not a probe or a reply
  peerChat.sendTo(port + 1, QByteArray("caf\xe9\xff", 5));
  ASSERT_TRUE(waitFor([&] { return side->chat.size() == 2; }));
  EXPECT_EQ(side->chat, (QStringList{QStringLiteral("\x01\x02"), QString::fromUtf8("caf\u00e9\u00ff")}));
  EXPECT_EQ(side->status, protocol::LinkStatus::NotConnected);
  EXPECT_FALSE(peerChat.receive(200).has_value());  // nothing taken for a probe, nothing answered

  side->link.stop();
  EXPECT_FALSE(side->link.sendChatLine(QStringLiteral("anyone?")).sent);
  EXPECT_FALSE(peerChat.receive(200).has_value());
  EXPECT_TRUE(side->boxes.boxes.isEmpty());
}

TEST_F(LinkTest, ThePeerFilterHearsOnlyTheRemoteHostFromAnyPort) {
  ThirdHost third;
  ASSERT_TRUE(third.bound());
  ASSERT_TRUE(start());
  RawPeer peerFromAnotherPort(freePortPair());
  // MIDI, a reply and a chat line from one sender.
  const auto send = [&](auto& sender) {
    sender.sendTo(port, QByteArray("\xf8", 1));
    sender.sendTo(port + 1, QByteArray("\x02", 1));
    sender.sendTo(port + 1, QByteArray("hi"));
    settle(300);
  };
  side->link.setPeerFilter(true);
  send(third);
  EXPECT_TRUE(received() == 0 && side->chat.isEmpty() && side->status == protocol::LinkStatus::NotConnected);
  EXPECT_EQ(side->link.refusedDatagrams(), 3u);
  send(peerFromAnotherPort);
  EXPECT_TRUE(received() == 1 && side->chat.size() == 1 && side->status == protocol::LinkStatus::Connected);
  side->link.setPeerFilter(false);
  send(third);
  EXPECT_TRUE(received() == 2 && side->chat.size() == 2);
  EXPECT_EQ(side->link.refusedDatagrams(), 3u);
  EXPECT_TRUE(side->boxes.boxes.isEmpty());
}

// Datagrams of every length around what each port reads, from a stranger: with
// the filter on nothing is said of them at all; with it off, what is too long is
// counted and said in one line, never in a box, and the rest is taken.
TEST_F(LinkTest, DatagramsTooLongForAPortAreCountedAndSaidOnceWithoutABoxAndNotAtAllWhenFiltered) {
  ThirdHost third;
  ASSERT_TRUE(third.bound());
  ASSERT_TRUE(start());
  QSignalSpy notices(&side->link, &link::Link::noticed);
  QList<int> lengths;
  for (int n = 0; n <= 260; ++n) lengths << n;
  for (int n = 1990; n <= 2010; ++n) lengths << n;
  lengths << 4096 << 65507;
  const auto sendAll = [&] {
    for (int n : lengths) {
      third.sendTo(port, QByteArray(n, '\xf8'));
      third.sendTo(port + 1, QByteArray(n, 'c'));
      if (n % 20 == 0) settle(10);
    }
    settle(300);
  };
  side->link.setPeerFilter(true);
  sendAll();
  EXPECT_EQ(received(), 0u);
  EXPECT_EQ(side->link.refusedDatagrams(), 2u * std::uint64_t(lengths.size() - 1));  // all but the empty ones
  EXPECT_TRUE(notices.isEmpty());
  side->link.setPeerFilter(false);
  sendAll();
  EXPECT_EQ(received(), 200u);                          // 1 to 200 bytes
  EXPECT_EQ(side->chat.size(), 259 + 11);  // 2 to 2000 bytes (one byte is a control byte)
  ASSERT_EQ(notices.size(), 2);                         // one for each port, at the first
  EXPECT_EQ(notices[0][0].toString(), "Ignored 1 datagram longer than 200 bytes at the MIDI port, the last from "
                                      "127.0.0.2:" + QString::number(third.port()));
  EXPECT_TRUE(notices[1][0].toString().startsWith("Ignored 1 datagram longer than 2000 bytes at the chat port"));
  EXPECT_TRUE(side->boxes.boxes.isEmpty()) << side->boxes.texts().join("; ").toStdString();
}

// An RTP-MIDI side inviting at the classic MIDI port is told of once a session,
// and nothing it sends is taken for MIDI.
TEST_F(LinkTest, AnRtpMidiInvitationIsSaidOnceASessionAndNeverCountedAsMidi) {
  QSignalSpy notices(&side->link, &link::Link::noticed);
  RawPeer rtp(freePortPair());
  const QByteArray invitation("\xFF\xFFIN\0\0\0\x02\x12\x34\x56\x78\x0A\x0B\x0C\x0Dpeer", 20);
  for (std::uint64_t session = 1; session <= 2; ++session) {
    ASSERT_TRUE(start());
    for (int i = 0; i < 3; ++i) rtp.sendTo(port, invitation);
    rtp.sendTo(port, QByteArray("\xF8", 1));  // read after them: counted once they were
    ASSERT_TRUE(waitFor([&] { return received() >= session; }));
    EXPECT_EQ(received(), session);
    ASSERT_EQ(notices.size(), qsizetype(session));
    EXPECT_EQ(notices.last()[0].toString(),
              "This port gets RTP-MIDI invitations: choose RTP-MIDI, or give the peer the classic port");
    side->link.stop();
  }
}

// Said at once, then at most once a minute, with how many came since.
TEST(OversizeNotice, SaysTheFirstAtOnceAndTheRestAtMostOnceAMinute) {
  protocol::classic::OversizeNotice oversize(protocol::ClassicPort::Midi, 200);
  const auto said = [](auto n) { return n ? link::noticeLine(*n) : QString(); };
  sockaddr_in from{};
  from.sin_addr.s_addr = htonl(0x0A000005);
  from.sin_port = htons(4000);
  const auto t0 = protocol::classic::OversizeNotice::Clock::now();
  EXPECT_EQ(said(oversize.count(from, t0)), "Ignored 1 datagram longer than 200 bytes at the MIDI port, the last from "
                                    "10.0.0.5:4000");
  EXPECT_EQ(said(oversize.count(from, t0 + std::chrono::seconds(1))), "");
  EXPECT_EQ(said(oversize.count(from, t0 + std::chrono::seconds(30))), "");
  EXPECT_EQ(said(oversize.due(t0 + std::chrono::seconds(59))), "");
  EXPECT_TRUE(said(oversize.due(t0 + std::chrono::seconds(60))).startsWith("Ignored 2 datagrams"));
  EXPECT_EQ(said(oversize.due(t0 + std::chrono::seconds(200))), "");  // nothing new
  EXPECT_EQ(oversize.total(), 3u);
}

TEST(PeerFilterChoice, IsRememberedOutsideTheSettingsFileAndSetFromTheCommandLine) {
  EXPECT_FALSE(settings::loadPeerFilter());
  settings::savePeerFilter(true);
  EXPECT_TRUE(settings::loadPeerFilter());
  EXPECT_TRUE(QFile::exists(qEnvironmentVariable("XDG_CONFIG_HOME") + "/strandlink/strandlink.conf"));
  EXPECT_EQ(app::parseCommandLine({"strandlink", "--headless", "--peer-filter"}).peerFilter, true);
  EXPECT_EQ(app::parseCommandLine({"strandlink", "--headless", "--no-peer-filter"}).peerFilter, false);
  EXPECT_FALSE(app::parseCommandLine({"strandlink", "--headless"}).peerFilter.has_value());
}

TEST_F(LinkTest, CountsReachTheFrontEndCoalescedAndEmptyDatagramsAreNotCounted) {
  ASSERT_TRUE(start());
  QSignalSpy counts(&side->link, &link::Link::countsChanged);
  RawPeer third(freePortPair());
  for (int i = 0; i < 50; ++i) third.sendTo(port, QByteArray("\xf8", 1));
  third.sendTo(port, QByteArray());
  ASSERT_TRUE(waitFor([&] {
    return !counts.isEmpty() && counts.last()[0].value<link::Counts>().received == 50;
  }));
  settle(200);
  EXPECT_EQ(received(), 50u);
  // At most one refresh per 40 ms, not one per datagram.
  EXPECT_LT(counts.size(), 10);
}
