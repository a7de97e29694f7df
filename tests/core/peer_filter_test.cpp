// The peer filter on real loopback sockets: a third host (127.0.0.2) is ignored
// with the filter on and heard with it off; the peer is heard from any port.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTemporaryDir>

#include "net/endpoints.h"
#include "session/command_line.h"
#include "settings/preferences.h"
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
  void sendTo(int port, const QByteArray& bytes) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::sendto(fd_, bytes.constData(), std::size_t(bytes.size()), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }

 private:
  int fd_;
  bool bound_ = false;
};

struct PeerFilter : ::testing::Test {
  void SetUp() override {
    local = freePortPair();
    side = std::make_unique<Side>(std::make_unique<StubMidiService>());
    side->configure(local, freePortPair());
    ASSERT_FALSE(net::OpenUdpEndpoints(side->session));
    ASSERT_TRUE(third.bound());
  }
  // MIDI, a probe reply and a chat line from one sender; true when all three were used.
  template <class Sender>
  bool heardFrom(Sender& sender) {
    side->view.setText(TextControl::lblConnectStatus, QString());
    side->view.setText(TextControl::txtReceive, QString());
    const double before = side->state.MidiEventsReceived.load();
    const auto rejectedBefore = side->session.rejectedDatagrams;
    sender.sendTo(local, QByteArray("\xf8", 1));
    sender.sendTo(local + 1, QByteArray("\x02", 1));
    sender.sendTo(local + 1, QByteArray("hi"));
    // Every datagram is either used or rejected; wait until all three are one of them.
    waitFor([&] {
      const auto used = int(side->state.MidiEventsReceived.load() - before) +
                        int(side->view.text(TextControl::lblConnectStatus) == "Connected") +
                        int(side->view.text(TextControl::txtReceive) == "\r\nREMOTEhi");
      return used + int(side->session.rejectedDatagrams - rejectedBefore) == 3;
    });
    const bool midi = side->state.MidiEventsReceived.load() == before + 1;
    const bool probe = side->view.text(TextControl::lblConnectStatus) == "Connected";
    const bool chat = side->view.text(TextControl::txtReceive) == "\r\nREMOTEhi";
    EXPECT_EQ(midi, probe);
    EXPECT_EQ(probe, chat);
    return midi && probe && chat;
  }

  int local = 0;
  std::unique_ptr<Side> side;
  ThirdHost third;
};

}  // namespace

TEST_F(PeerFilter, OnlyTheRemoteHostIsHeardWhileTheFilterIsOn) {
  RawPeer peerFromAnotherPort(freePortPair());
  EXPECT_TRUE(heardFrom(third));  // off by default: anyone is heard
  EXPECT_EQ(side->session.rejectedDatagrams, 0u);

  side->session.peerFilter = true;
  EXPECT_FALSE(heardFrom(third));
  EXPECT_EQ(side->session.rejectedDatagrams, 3u);
  EXPECT_TRUE(heardFrom(peerFromAnotherPort));
  EXPECT_TRUE(side->boxes.boxes.isEmpty());

  side->session.peerFilter = false;
  EXPECT_TRUE(heardFrom(third));
  EXPECT_EQ(side->session.rejectedDatagrams, 3u);
}

TEST(PeerFilterChoice, IsRememberedOutsideTheSettingsFileAndSetFromTheCommandLine) {
  QTemporaryDir config;
  ASSERT_TRUE(config.isValid());
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  EXPECT_FALSE(settings::loadPeerFilter());
  settings::savePeerFilter(true);
  EXPECT_TRUE(settings::loadPeerFilter());
  EXPECT_TRUE(QFile::exists(config.path() + "/strandlink/strandlink.conf"));

  EXPECT_EQ(parseCommandLine({"strandlink", "--headless", "--peer-filter"}).peerFilter, true);
  EXPECT_EQ(parseCommandLine({"strandlink", "--headless", "--no-peer-filter"}).peerFilter, false);
  EXPECT_FALSE(parseCommandLine({"strandlink", "--headless"}).peerFilter.has_value());
}
