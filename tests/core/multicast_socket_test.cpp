// Three places in one multicast group on one host, on real sockets: each hears what
// the other two send, byte-exact, and never itself. Runs in a network namespace
// of its own (needs root), where loopback carries the group and nothing else on
// the machine can join in.
#include <arpa/inet.h>
#include <poll.h>
#include <sched.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "midi/midi_event.h"
#include "net/socket_errors.h"
#include "protocol/multicast/group_receiver.h"
#include "protocol/multicast/multicast_socket.h"
#include "support/real_part.h"

using strandlink::midi::MidiEvent;
using namespace strandlink::protocol::multicast;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Opens the sockets on a thread moved into a new network namespace whose loopback
// is up and routes multicast; sockets keep the namespace they were made in. Returns
// what was missing, or nothing.
std::string openInPrivateNetwork(const std::vector<GroupOptions>& options, std::vector<MulticastSocket>& sockets) {
  std::string missing;
  std::thread([&] {
    if (::unshare(CLONE_NEWNET) != 0) {
      missing = std::string("a network namespace (") + std::strerror(errno) + "; run as root)";
      return;
    }
    if (std::system("ip link set lo up multicast on && ip route add 224.0.0.0/4 dev lo") != 0) {
      missing = "a multicast route on loopback (ip from iproute2)";
      return;
    }
    for (const GroupOptions& o : options) {
      strandlink::net::SocketError error{};
      sockets.push_back(MulticastSocket::open(o, error));
      EXPECT_EQ(error, strandlink::net::SocketError::Ok) << strandlink::net::socketErrorText(error).toStdString();
    }
  }).join();
  return missing;
}

struct Heard {
  sockaddr_in from{};
  Bytes bytes;
};

// What reaches the socket until `expected` datagrams came and then nothing for a
// moment (so that one more, such as our own, would be seen); at most a few seconds.
std::vector<Heard> listen(const MulticastSocket& socket, std::size_t expected) {
  std::vector<Heard> heard;
  for (int waits = 0; waits < 50;) {
    pollfd p{socket.receiveDescriptor(), POLLIN, 0};
    if (::poll(&p, 1, 100) == 0) {
      if (heard.size() >= expected) break;
      ++waits;
      continue;
    }
    Bytes buffer(65536);
    Heard h;
    const auto got = socket.receive(buffer, h.from);
    if (!got.ok()) continue;  // an own datagram passed over, nothing else waiting
    h.bytes.assign(buffer.begin(), buffer.begin() + got.bytes);
    heard.push_back(h);
  }
  return heard;
}

}  // namespace

TEST(MulticastSocket, ThreeInOneGroupHearEachOtherAndNotThemselves) {
  GroupOptions onLoopback;
  onLoopback.interfaceAddress = htonl(INADDR_LOOPBACK);
  std::vector<MulticastSocket> places;
  // Two with the system's choice of interface, one on a named interface.
  const std::string missing = openInPrivateNetwork({GroupOptions{}, GroupOptions{}, onLoopback}, places);
  REQUIRE_REAL_PART(missing.empty(), "multicast socket test: missing " << missing);
  ASSERT_EQ(places.size(), 3u);
  for (const auto& p : places) ASSERT_TRUE(p.valid());
  EXPECT_NE(places[0].ownAddress().sin_port, places[1].ownAddress().sin_port);

  const std::vector<Bytes> sent{{0x90, 0x3C, 0x64}, {0xC1, 0x05}, {0xF8}};
  for (std::size_t i = 0; i < 3; ++i) {
    const auto t = places[i].send(sent[i]);
    ASSERT_TRUE(t.ok()) << strandlink::net::socketErrorText(t.error).toStdString();
  }
  for (std::size_t i = 0; i < 3; ++i) {
    std::vector<Bytes> got;
    for (const Heard& h : listen(places[i], 2)) {
      got.push_back(h.bytes);
      EXPECT_FALSE(places[i].isOwn(h.from));
    }
    std::vector<Bytes> others;
    for (std::size_t j = 0; j < 3; ++j)
      if (j != i) others.push_back(sent[j]);
    EXPECT_EQ(got, others) << "place " << i;
  }
}

// A SysEx longer than a datagram, sent piece by piece, comes out whole at the
// others through their receivers.
TEST(MulticastSocket, ALongSysExArrivesWholeThroughTheReceiver) {
  std::vector<MulticastSocket> places;
  const std::string missing = openInPrivateNetwork({GroupOptions{}, GroupOptions{}}, places);
  REQUIRE_REAL_PART(missing.empty(), "multicast socket test: missing " << missing);
  ASSERT_EQ(places.size(), 2u);
  Bytes sysEx(5000, 0x55);
  sysEx.front() = 0xF0;
  sysEx.back() = 0xF7;
  const auto send = [&](std::span<const std::uint8_t> d) { ASSERT_TRUE(places[0].send(d).ok()); };
  ASSERT_TRUE(forEachDatagram(MidiEvent::fromBytes(sysEx), send));
  GroupReceiver receiver;
  std::vector<Bytes> got;
  const auto collect = [&](std::span<const std::uint8_t> m) { got.emplace_back(m.begin(), m.end()); };
  for (const Heard& h : listen(places[1], datagramCount(sysEx.size()))) receiver.receive(h.from, h.bytes, 0, collect);
  EXPECT_EQ(got, std::vector<Bytes>{sysEx});
  EXPECT_EQ(listen(places[0], 0).size(), 0u);  // none of its own pieces
}

TEST(MulticastSocket, AnAddressThatIsNoGroupAndATtlPast255AreRefused) {
  GroupOptions unicast;
  unicast.group = htonl(INADDR_LOOPBACK);
  strandlink::net::SocketError error{};
  const MulticastSocket s = MulticastSocket::open(unicast, error);
  EXPECT_TRUE(strandlink::net::failed(error));
  EXPECT_FALSE(s.valid());
  GroupOptions farTooFar;
  farTooFar.ttl = 256;
  EXPECT_FALSE(MulticastSocket::open(farTooFar, error).valid());
  EXPECT_TRUE(strandlink::net::failed(error));
}
