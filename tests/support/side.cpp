#include "support/side.h"

#include <arpa/inet.h>
#include <jack/jack.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "net/udp_socket.h"

namespace strandlink::test {

namespace {

bool bindable(int port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  const sockaddr_in a = loopback(port);
  const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

sockaddr_in loopback(int port) { return net::makeAddress(htonl(INADDR_LOOPBACK), static_cast<std::uint16_t>(port)); }

int freePortPair() {
  // Walk a range away from the ephemeral ports, from a per-process start, so that
  // test programs running side by side rarely meet.
  static int next = 20000 + (::getpid() % 400) * 50;
  for (int tries = 0; tries < 2000; ++tries) {
    const int p = next;
    next += 2;
    if (next > 60000) next = 20000;
    if (bindable(p) && bindable(p + 1)) return p;
  }
  std::abort();
}

bool jackAvailable() {
  jack_status_t status{};
  jack_client_t* c = jack_client_open("strandlink-probe", JackNoStartServer, &status);
  if (c == nullptr) return false;
  jack_client_close(c);
  return true;
}

}  // namespace strandlink::test

namespace strandlink::test {

RawPeer::RawPeer(int port) : port_(port) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
  const sockaddr_in a = loopback(port);
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) std::abort();
}

RawPeer::~RawPeer() { ::close(fd_); }

void RawPeer::sendTo(int port, const QByteArray& bytes, std::uint32_t address) {
  const sockaddr_in a = net::makeAddress(address, static_cast<std::uint16_t>(port));
  ::sendto(fd_, bytes.constData(), std::size_t(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
}

std::optional<QByteArray> RawPeer::receive(int deadlineMs) {
  QByteArray buffer(4096, '\0');
  ssize_t n = -1;
  // The condition may be asked again after it held: read only until one arrived.
  waitFor([&] {
    if (n < 0) n = ::recv(fd_, buffer.data(), std::size_t(buffer.size()), 0);
    return n >= 0;
  }, deadlineMs);
  if (n < 0) return std::nullopt;
  buffer.resize(n);
  return buffer;
}

}  // namespace strandlink::test
