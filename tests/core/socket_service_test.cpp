// The socket service on real loopback sockets, and its error numbers.
#include <QCoreApplication>
#include <QDeadlineTimer>

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "net/socket_service.h"
#include "net/wsksock.h"

using namespace strandlink::net;

namespace {

const std::uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// A UDP socket on a free loopback port, closed on scope exit.
struct Udp {
  Udp() : fd(createUdpSocket()) {
    EXPECT_EQ(bindSocket(fd, makeAddress(kLoopback, 0)), 0);
    socklen_t len = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &len);
  }
  ~Udp() { closeSocket(fd); }
  void send(const Udp& to, const char* text) const {
    const int n = int(std::strlen(text));
    EXPECT_EQ(sendTo(fd, text, n, to.address), n);
  }
  bool readable() const {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 5000) == 1;
  }
  int fd;
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
  for (int code = -1000; code <= 20000; ++code) rows += SocketErrorText(code).isEmpty() ? 0 : 1;
  EXPECT_EQ(rows, 51);
  EXPECT_EQ(SocketErrorText(10047), "Address family not supported by protocol family.");
  EXPECT_EQ(SocketErrorText(10059), "Too many references: can't splice.");
  EXPECT_EQ(SocketErrorText(11004), "Valid name, no data record of requested type.");

  const int byErrno[][2] = {
      {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049}, {EMSGSIZE, 10040}, {EAGAIN, 10035},
      {ENETUNREACH, 10051}, {EHOSTUNREACH, 10065}, {ECONNREFUSED, 10061}, {EACCES, 10013},
      {EINVAL, 10022}, {EBADF, 10038}, {ENOTSOCK, 10038}, {EMFILE, 10024}, {ENOBUFS, 10055},
      {EAFNOSUPPORT, 10047}, {EINTR, 10004}, {EFAULT, 10014}, {ENETDOWN, 10050},
      {ECONNRESET, 10054}, {EHOSTDOWN, 10064}, {ETIMEDOUT, 10060}, {EINPROGRESS, 10036},
      {EOPNOTSUPP, 10045}, {ETOOMANYREFS, 10059}, {EREMOTE, 10071}, {0, 0}, {ENOENT, 0}, {EDOM, 0}};
  for (const auto& r : byErrno) EXPECT_EQ(socketErrorFromErrno(r[0]), r[1]) << "errno " << r[0];
  for (int err = 1; err < 134; ++err) {  // whatever the mapping gives has a text
    EXPECT_TRUE(socketErrorFromErrno(err) == 0 || !SocketErrorText(socketErrorFromErrno(err)).isEmpty());
  }
  for (auto [eai, code] : {std::pair{EAI_NONAME, 11001}, {EAI_AGAIN, 11002}, {EAI_NODATA, 11004}, {EAI_MEMORY, 11003}})
    EXPECT_EQ(socketErrorFromLookup(eai), code) << eai;
}

TEST(SocketService, FailuresCarryTheirNumbersPerThread) {
  Udp taken;
  const int fd = createUdpSocket();
  EXPECT_EQ(bindSocket(fd, taken.address), -1);
  EXPECT_EQ(WSAGetLastError(), 10048);
  EXPECT_EQ(SocketErrorText(WSAGetLastError()), "Address already in use.");
  // The documentation range belongs to no interface of this machine.
  EXPECT_EQ(bindSocket(fd, makeAddress(inetAddr("192.0.2.1"), 0)), -1);
  EXPECT_EQ(WSAGetLastError(), 10049);
  closeSocket(fd);

  char byte = 0;
  EXPECT_EQ(sendTo(-1, &byte, 1, makeAddress(kLoopback, 9)), -1);
  EXPECT_EQ(WSAGetLastError(), 10038);
  std::thread([] {
    EXPECT_EQ(getHostByName("300.1.1.1"), kInaddrNone);  // asks no name server
    EXPECT_EQ(WSAGetLastError(), 11001);
  }).join();
  EXPECT_EQ(WSAGetLastError(), 10038);
  EXPECT_EQ(getHostByName("localhost"), kLoopback);
  EXPECT_EQ(inetAddr(std::string("127.0.0.1\0junk", 14)), kInaddrNone);
}

TEST(SocketService, ReadsOneDatagramAtATimeWithItsSender) {
  Udp a, b;
  sockaddr_in from{};
  char buffer[200];
  EXPECT_EQ(recvFrom(b.fd, buffer, sizeof buffer, from), -1);  // nothing waits: no hang
  EXPECT_EQ(WSAGetLastError(), 10035);

  a.send(b, "\x90\x3c\x64");
  a.send(b, "0123456789");
  a.send(b, "xyz");
  ASSERT_TRUE(b.readable());
  ASSERT_EQ(recvFrom(b.fd, buffer, 5, from), 3);
  EXPECT_EQ(std::memcmp(buffer, "\x90\x3c\x64", 3), 0);
  EXPECT_EQ(from.sin_port, a.address.sin_port);
  EXPECT_EQ(from.sin_addr.s_addr, kLoopback);
  // Too long for the read: it fails with "Message too long." and is gone.
  ASSERT_TRUE(b.readable());
  EXPECT_EQ(recvFrom(b.fd, buffer, 5, from), -1);
  EXPECT_EQ(WSAGetLastError(), 10040);
  ASSERT_TRUE(b.readable());
  ASSERT_EQ(recvFrom(b.fd, buffer, 5, from), 3);
  EXPECT_EQ(std::memcmp(buffer, "xyz", 3), 0);
}

TEST(ReadNotifier, CallsOncePerDatagramAndStopsWhenDestroyed) {
  Udp a, b;
  int calls = 0, reads = 0;
  auto notifier = std::make_unique<ReadNotifier>(b.fd, [&] {
    ++calls;
    char buffer[200];
    sockaddr_in from{};
    if (recvFrom(b.fd, buffer, sizeof buffer, from) >= 0) ++reads;
  });
  for (const char* text : {"one", "two", "three"}) a.send(b, text);
  EXPECT_TRUE(spinUntil([&] { return reads == 3; })) << reads;
  EXPECT_EQ(calls, 3);

  // Destroyed from inside its own handler, as a Stop run from a receive handler is.
  calls = 0;
  notifier = std::make_unique<ReadNotifier>(b.fd, [&] {
    ++calls;
    notifier.reset();
  });
  a.send(b, "four");
  ASSERT_TRUE(b.readable());
  // The datagram stays unread, so a live notifier would fire on every turn.
  EXPECT_TRUE(spinUntil([&] { return calls >= 1; }));
  EXPECT_EQ(calls, 1);
}
