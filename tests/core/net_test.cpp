// The network adapter on real loopback sockets: error numbers and texts, sockets
// that report failures as values, one datagram per read, read notifications, and
// what address and port texts are worth.
#include <QCoreApplication>
#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/monotonic_clock.h"
#include "net/addresses.h"
#include "net/own_address.h"
#include "net/read_notifier.h"
#include "net/socket_errors.h"
#include "net/udp_socket.h"
#include "support/real_part.h"

using namespace strandlink::net;

namespace {

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// A UDP socket on a free loopback port.
struct Udp {
  Udp() {
    SocketError error = SocketError::InvalidArgument;
    socket = UdpSocket::create(error);
    EXPECT_EQ(error, SocketError::Ok);
    EXPECT_EQ(socket.bind(makeAddress(kLoopback, 0)), SocketError::Ok);
    socklen_t len = sizeof address;
    getsockname(socket.descriptor(), reinterpret_cast<sockaddr*>(&address), &len);
  }
  void send(const Udp& to, const char* text) const {
    const auto n = std::strlen(text);
    EXPECT_EQ(socket.sendTo({reinterpret_cast<const std::uint8_t*>(text), n}, to.address).bytes, int(n));
  }
  bool readable() const {
    pollfd p{socket.descriptor(), POLLIN, 0};
    return poll(&p, 1, 5000) == 1;
  }
  UdpSocket socket;
  sockaddr_in address{};
};

// Turns the event loop until done() holds or a generous deadline passes, then a
// few more times so that a call too many would show.
bool spinUntil(const std::function<bool()>& done) {
  QDeadlineTimer deadline(5000);
  while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
  return done();
}

}  // namespace

TEST(SocketErrors, FiftyOneTextsAndOneMappingFromErrno) {
  int rows = 0;
  for (int code = -1000; code <= 20000; ++code) rows += socketErrorText(SocketError(code)).isEmpty() ? 0 : 1;
  EXPECT_EQ(rows, 51);
  EXPECT_EQ(socketErrorText(SocketError(10047)), "Address family not supported by protocol family.");
  EXPECT_EQ(socketErrorText(SocketError(11004)), "Valid name, no data record of requested type.");

  const int byErrno[][2] = {
      {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049}, {EMSGSIZE, 10040}, {EAGAIN, 10035},
      {ENETUNREACH, 10051}, {EHOSTUNREACH, 10065}, {ECONNREFUSED, 10061}, {EACCES, 10013},
      {EPERM, 10013}, {EBADF, 10038}, {ENOTSOCK, 10038}, {EMFILE, 10024}, {ENOBUFS, 10055},
      {EINTR, 10004}, {ENETDOWN, 10050}, {ECONNRESET, 10054}, {ETIMEDOUT, 10060}, {EREMOTE, 10071},
      // Without a row of its own a failure still reads as one.
      {ENOENT, 10022}, {EDOM, 10022}};
  for (const auto& r : byErrno) EXPECT_EQ(socketErrorNumber(socketErrorFromErrno(r[0])), r[1]) << "errno " << r[0];
  for (int err = 1; err < 134; ++err) EXPECT_FALSE(socketErrorText(socketErrorFromErrno(err)).isEmpty()) << err;
  for (auto [eai, code] : {std::pair{EAI_NONAME, 11001}, {EAI_AGAIN, 11002}, {EAI_NODATA, 11004}, {EAI_MEMORY, 11003}})
    EXPECT_EQ(socketErrorNumber(socketErrorFromLookup(eai)), code) << eai;
}

TEST(UdpSocket, FailuresComeBackAsTheirNumbersAndDescriptorZeroIsASocketLikeAnyOther) {
  Udp taken;
  SocketError error = SocketError::InvalidArgument;
  UdpSocket s = UdpSocket::create(error);
  EXPECT_EQ(socketErrorNumber(s.bind(taken.address)), 10048);
  // The documentation range belongs to no interface of this machine.
  EXPECT_EQ(socketErrorNumber(s.bind(makeAddress(parseDottedAddress("192.0.2.1"), 0))), 10049);
  const std::uint8_t byte = 0;
  EXPECT_EQ(socketErrorNumber(sendDatagram(-1, {&byte, 1}, taken.address).error), 10038);
  UdpSocket none;
  EXPECT_FALSE(none.valid());
  sockaddr_in from{};
  std::uint8_t buffer[4];
  EXPECT_EQ(socketErrorNumber(none.receiveFrom(buffer, from).error), 10038);

  // Descriptor 0 is an ordinary socket when standard input is closed.
  const int savedInput = ::dup(0);
  ::close(0);
  UdpSocket zero = UdpSocket::create(error);
  EXPECT_TRUE(zero.valid() && zero.descriptor() == 0 && error == SocketError::Ok);
  EXPECT_EQ(zero.bind(makeAddress(kLoopback, 0)), SocketError::Ok);
  zero.close();
  ::dup2(savedInput, 0);
  ::close(savedInput);
}

// The arrival is when the kernel took the datagram in, not when it was read. The
// kernel turns its stamps on a moment after the first socket of the machine asks:
// a datagram it took in meanwhile is timed at its read, and counted.
TEST(UdpSocket, AnArrivalIsTheKernelsReceiveTimeNotTheTimeOfTheRead) {
  const auto micros = strandlink::monotonicMicros;
  Udp a, b;
  b.socket.stampArrivals();
  std::uint8_t buffer[4];
  sockaddr_in from{};
  int stamped = 0;
  for (int tries = 0; tries < 50 && stamped < 3; ++tries) {
    const std::int64_t sending = micros();
    a.send(b, "x");
    const std::int64_t sent = micros();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(b.readable());
    const std::uint64_t unstamped = b.socket.unstampedArrivals();
    std::int64_t arrival = 0;
    const std::int64_t reading = micros();
    ASSERT_EQ(b.socket.receiveFrom(buffer, from, &arrival).bytes, 1);
    const std::int64_t read = micros();
    const bool kernels = b.socket.unstampedArrivals() == unstamped;
    stamped += kernels ? 1 : 0;
    // Loopback takes a datagram in during the send: within a millisecond of it
    // (the clocks' rounding), 30 ms before the read.
    EXPECT_TRUE(kernels ? arrival >= sending - 1000 && arrival <= sent + 1000 : arrival >= reading && arrival <= read)
        << (kernels ? "stamped " : "unstamped ") << arrival - sending << " µs after sending, " << read - arrival
        << " µs before the read's end";
  }
  EXPECT_EQ(stamped, 3);
}

TEST(ReadNotifier, CallsOncePerDatagramAndStopsWhenDestroyed) {
  Udp a, b;
  int calls = 0, reads = 0;
  auto notifier = std::make_unique<ReadNotifier>(b.socket.descriptor(), [&] {
    ++calls;
    std::uint8_t buffer[200];
    sockaddr_in from{};
    if (b.socket.receiveFrom(buffer, from).ok()) ++reads;
  });
  for (const char* text : {"one", "two", "three"}) a.send(b, text);
  EXPECT_TRUE(spinUntil([&] { return reads == 3; })) << reads;
  EXPECT_EQ(calls, 3);

  // Destroyed from inside its own handler, as a Stop run from a receive handler is.
  calls = 0;
  notifier = std::make_unique<ReadNotifier>(b.socket.descriptor(), [&] {
    ++calls;
    notifier.reset();
  });
  a.send(b, "four");
  ASSERT_TRUE(b.readable());
  // The datagram stays unread, so a live notifier would fire on every turn.
  EXPECT_TRUE(spinUntil([&] { return calls >= 1; }));
  EXPECT_EQ(calls, 1);
}

TEST(Addresses, KeystrokesPastesAndPortTexts) {
  for (char16_t c : std::u16string_view(u"0123456789\b\n\r")) EXPECT_TRUE(portKeyAllowed(c) && addressKeyAllowed(c));
  // Host names: "stage-2.local", "localhost".
  for (char16_t c : std::u16string_view(u".-_azAZ")) EXPECT_TRUE(addressKeyAllowed(c) && !portKeyAllowed(c)) << int(c);
  // Neighbours of the digits and letters, signs, blanks, the copy/cut/paste controls, other digits and letters.
  for (char16_t c : std::u16string_view(u"/:@[`{, \t\x03\x16\x18\x7f\u0663\uff11\u00e9\0", 17))
    EXPECT_FALSE(portKeyAllowed(c) || addressKeyAllowed(c)) << int(c);
  EXPECT_EQ(filterAddressText(QStringLiteral(" stage-2.local\r\n")), "stage-2.local");
  EXPECT_EQ(filterPortText(QStringLiteral("4,000.5\t")), "40005");

  EXPECT_EQ(portValue(QStringLiteral(" 4000\t")), 4000.0);
  EXPECT_EQ(portValue(QStringLiteral("4000.5")), 4000.5);
  for (const char* bad : {"", "   ", "40 00", ".", "abc", "-1", "1e3", "4,000", "1.2.3"})
    EXPECT_FALSE(portValue(QString::fromLatin1(bad))) << bad;
}

TEST(Addresses, DottedFormsNamesAndTheLocalHost) {
  EXPECT_EQ(resolveAddress(QStringLiteral("127.1")).address, htonl(0x7F000001));
  EXPECT_EQ(resolveAddress(QStringLiteral("010.0.0.1")).address, htonl(0x08000001));
  EXPECT_EQ(resolveAddress(QStringLiteral("localhost")).address, kLoopback);
  EXPECT_TRUE(resolveAddress(QStringLiteral("localhost")).usable());
  // Digits and dots that are no address ask no name server; 0.0.0.0 and the
  // broadcast address parse but are no peer.
  EXPECT_EQ(socketErrorNumber(resolveAddress(QStringLiteral("300.1.1.1")).error), 11001);
  EXPECT_FALSE(resolveAddress(QStringLiteral("0.0.0.0")).usable());
  EXPECT_FALSE(resolveAddress(QStringLiteral("255.255.255.255")).usable());
  EXPECT_EQ(parseDottedAddress(std::string("127.0.0.1\0junk", 14)), kNoAddress);
  // Outside ISO 8859-1 is "?", which names nothing.
  EXPECT_FALSE(resolveAddress(QStringLiteral("l\u0151calhost")).usable());
  EXPECT_EQ(formatAddress(htonl(0x0A000102)), "10.0.1.2");
  EXPECT_EQ(localHostName().error, SocketError::Ok);
}

namespace {

// ownAddress() in a network namespace of its own, after each of these commands:
// the addresses it gave, one line each.
std::vector<std::string> ownAddressesInANetworkOfItsOwn(const std::vector<const char*>& steps) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    std::string lines;
    if (::unshare(CLONE_NEWNET) == 0) {
      for (const char* step : steps) {
        if (std::system(step) != 0) break;
        lines += formatAddress(ownAddress(localHostName().name).address).toStdString() + '\n';
      }
    }
    [[maybe_unused]] auto n = ::write(pipeEnds[1], lines.data(), lines.size());
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, std::size_t(n));
  ::close(pipeEnds[0]);
  ::waitpid(child, nullptr, 0);
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.substr(at, end - at));
  return lines;
}

}  // namespace

// The address shown as ours is one the network reaches, also where the host name
// maps to a loopback address; with no network at all, the host name's.
TEST(Addresses, OwnAddressIsTheNetworksWhereverTheHostNameLeadsToLoopback) {
  REQUIRE_REAL_PART(::geteuid() == 0 && std::system("command -v ip >/dev/null") == 0,
                    "root and ip, which a network namespace of the test's own needs");
  const Resolved named = lookUpHost(localHostName().name);
  const std::string byName = formatAddress(named.address).toStdString();
  const bool nameIsLoopback = !named.usable() || isLoopback(named.address);
  const auto found = ownAddressesInANetworkOfItsOwn({
      "ip link set lo up",
      // A studio's own switch: no gateway, no default route.
      "ip link add sl0 type veth peer name sl1 && ip addr add 10.77.0.1/24 dev sl0 && ip link set sl0 up && "
      "ip link set sl1 up",
      // A gateway in a second network on the same wire: the default route's source
      // address is ours, not the interface's first.
      "ip addr add 10.88.0.1/24 dev sl0 && ip route add default via 10.88.0.2 dev sl0",
  });
  ASSERT_EQ(found.size(), 3u) << "the namespace could not be set up";
  EXPECT_EQ(found[0], byName);
  EXPECT_EQ(found[1], nameIsLoopback ? "10.77.0.1" : byName);
  EXPECT_EQ(found[2], nameIsLoopback ? "10.88.0.1" : byName);
}
