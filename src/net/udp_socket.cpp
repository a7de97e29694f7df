#include "net/udp_socket.h"

#include <linux/net_tstamp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "base/monotonic_clock.h"
#include "net/socket_errors.h"

namespace strandlink::net {

namespace {

Transfer failure(SocketError error) { return Transfer{-1, error}; }

Transfer fromErrno() { return failure(socketErrorFromErrno(errno)); }

std::int64_t micros(const timespec& t) { return std::int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000; }

std::int64_t wallMicros() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return micros(now);
}

// The kernel's receive time, on the wall clock, moved onto the monotonic one by how
// far the wall clock is ahead of it now; none when the kernel did not stamp the
// datagram. It turns its stamps on a moment after the first socket of the machine
// asks for them (deferred work), and a datagram it takes in meanwhile has none.
// SO_TIMESTAMPNS would then hand over the time of the read as if it were the
// kernel's; SO_TIMESTAMPING leaves the stamp out, so that we know.
std::optional<std::int64_t> kernelArrival(msghdr& message, std::int64_t now) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPING) continue;
    timespec stamps[3]{};  // software, unused, hardware
    std::memcpy(stamps, CMSG_DATA(c), sizeof stamps);
    const std::int64_t received = micros(stamps[0]);
    if (received == 0) return std::nullopt;
    const std::int64_t arrival = now - (wallMicros() - received);
    // A wall clock stepped between the two readings: none.
    if (arrival <= now && arrival > now - 1000000) return arrival;
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

UdpSocket::~UdpSocket() { close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      stamping_(std::exchange(other.stamping_, false)),
      unstamped_(std::exchange(other.unstamped_, 0)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    stamping_ = std::exchange(other.stamping_, false);
    unstamped_ = std::exchange(other.unstamped_, 0);
  }
  return *this;
}

UdpSocket UdpSocket::create(SocketError& error) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  error = fd < 0 ? socketErrorFromErrno(errno) : SocketError::Ok;
  return UdpSocket(fd);
}

SocketError UdpSocket::bind(const sockaddr_in& local) const {
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return socketErrorFromErrno(errno);
  return SocketError::Ok;
}

Transfer UdpSocket::sendTo(std::span<const std::uint8_t> bytes, const sockaddr_in& to) const {
  return sendDatagram(fd_, bytes, to);
}

Transfer UdpSocket::receiveFrom(std::span<std::uint8_t> buffer, sockaddr_in& from, std::int64_t* arrivalMicros) const {
  if (fd_ < 0) return failure(socketErrorFromErrno(EBADF));
  iovec data{buffer.data(), buffer.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(3 * sizeof(timespec))];
  msghdr message{};
  message.msg_name = &from;
  message.msg_namelen = sizeof from;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t n;
  do {
    // MSG_TRUNC makes the kernel report the datagram's full length, so a datagram
    // longer than the buffer is noticed; it is consumed all the same.
    n = ::recvmsg(fd_, &message, MSG_TRUNC);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return fromErrno();
  if (arrivalMicros != nullptr) {
    const std::int64_t now = monotonicMicros();
    const std::optional<std::int64_t> kernel = stamping_ ? kernelArrival(message, now) : std::nullopt;
    if (stamping_ && !kernel) ++unstamped_;
    *arrivalMicros = kernel.value_or(now);
  }
  if (static_cast<std::size_t>(n) > buffer.size()) return failure(SocketError::MessageTooLong);
  return Transfer{static_cast<int>(n), SocketError::Ok};
}

void UdpSocket::stampArrivals() {
  const int flags = SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE;
  stamping_ = ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof flags) == 0;
}

void UdpSocket::widenReceiveBuffer() {
  constexpr int kBytes = 2 << 20;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &kBytes, sizeof kBytes);
}

void UdpSocket::close() {
  // No retry on EINTR: Linux releases the descriptor even then.
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  stamping_ = false;
}

Transfer sendDatagram(int fd, std::span<const std::uint8_t> bytes, const sockaddr_in& to) {
  if (fd < 0) return failure(socketErrorFromErrno(EBADF));
  ssize_t n;
  do {
    n = ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return fromErrno();
  return Transfer{static_cast<int>(n), SocketError::Ok};
}

sockaddr_in makeAddress(std::uint32_t addressNetworkOrder, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = addressNetworkOrder;
  return a;
}

}  // namespace strandlink::net
