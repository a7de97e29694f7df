#include "net/udp_socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "net/socket_errors.h"

namespace strandlink::net {

namespace {

Transfer failed(int error) { return Transfer{-1, error}; }

Transfer fromErrno() { return failed(socketErrorFromErrno(errno)); }

}  // namespace

UdpSocket::~UdpSocket() { close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

UdpSocket UdpSocket::create(int& error) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  error = fd < 0 ? socketErrorFromErrno(errno) : kSocketOk;
  return UdpSocket(fd);
}

int UdpSocket::bind(const sockaddr_in& local) const {
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return socketErrorFromErrno(errno);
  return kSocketOk;
}

Transfer UdpSocket::sendTo(std::span<const std::uint8_t> bytes, const sockaddr_in& to) const {
  return sendDatagram(fd_, bytes, to);
}

Transfer UdpSocket::receiveFrom(std::span<std::uint8_t> buffer, sockaddr_in& from) const {
  if (fd_ < 0) return failed(socketErrorFromErrno(EBADF));
  socklen_t fromLength = sizeof from;
  ssize_t n;
  do {
    // MSG_TRUNC makes the kernel report the datagram's full length, so a datagram
    // longer than the buffer is noticed; it is consumed all the same.
    n = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &fromLength);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return fromErrno();
  if (static_cast<std::size_t>(n) > buffer.size()) return failed(kSocketMessageTooLong);
  return Transfer{static_cast<int>(n), kSocketOk};
}

void UdpSocket::close() {
  // No retry on EINTR: Linux releases the descriptor even then.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Transfer sendDatagram(int fd, std::span<const std::uint8_t> bytes, const sockaddr_in& to) {
  if (fd < 0) return failed(socketErrorFromErrno(EBADF));
  ssize_t n;
  do {
    n = ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return fromErrno();
  return Transfer{static_cast<int>(n), kSocketOk};
}

sockaddr_in makeAddress(std::uint32_t addressNetworkOrder, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = addressNetworkOrder;
  return a;
}

}  // namespace strandlink::net
