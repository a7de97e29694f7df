// An IPv4 UDP socket: non-blocking, close-on-exec, closed with its owner. Every
// failure comes back as a SocketError (see socket_errors.h), never
// through a thread's global.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <span>

#include "net/socket_errors.h"

namespace strandlink::net {

// The outcome of one send or receive: bytes moved, or the error (bytes is then -1).
struct [[nodiscard]] Transfer {
  int bytes = -1;
  SocketError error = SocketError::Ok;
  bool ok() const { return error == SocketError::Ok; }
};

class UdpSocket {
 public:
  // An empty socket; valid() is false.
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // A new socket; on failure an empty one and the error.
  static UdpSocket create(SocketError& error);

  bool valid() const { return fd_ >= 0; }
  int descriptor() const { return fd_; }
  SocketError bind(const sockaddr_in& local) const;
  // One datagram. Safe from any thread while the socket lives.
  Transfer sendTo(std::span<const std::uint8_t> bytes, const sockaddr_in& to) const;
  // One datagram of at most buffer.size() bytes; a longer one is consumed and
  // fails with SocketError::MessageTooLong. arrivalMicros, when given, is set to when
  // the datagram arrived, in µs of the monotonic clock: the kernel's receive time
  // once stampArrivals() is on, else (and for a datagram the kernel did not stamp,
  // which is counted) the time of the read.
  Transfer receiveFrom(std::span<std::uint8_t> buffer, sockaddr_in& from, std::int64_t* arrivalMicros = nullptr) const;
  // Has the kernel note each datagram's arrival (best effort: without it, reads
  // tell the time of the read). Best before the socket is bound, so that nothing
  // waits in it unstamped.
  void stampArrivals();
  // Room for a burst while the reader is held up: the reading thread can be kept
  // from its loop for a moment by a busy window or machine, and the default buffer
  // (about 200 small datagrams) overflowed within a quarter of a second at 20,000
  // messages a second. Best effort, up to the system's cap (net.core.rmem_max).
  void widenReceiveBuffer();
  // How many datagrams came without the kernel's time while stamps were on (a
  // kernel turns them on a moment after being asked), each timed at its read.
  std::uint64_t unstampedArrivals() const { return unstamped_; }
  // Closes now; an empty socket afterwards.
  void close();

 private:
  explicit UdpSocket(int fd) : fd_(fd) {}
  int fd_ = -1;
  bool stamping_ = false;
  mutable std::uint64_t unstamped_ = 0;  // the reading thread's only
};

// Sends on a descriptor that another thread may close meanwhile (the MIDI thread
// sends while the window's thread owns the socket); -1 fails with an error.
Transfer sendDatagram(int fd, std::span<const std::uint8_t> bytes, const sockaddr_in& to);

// An IPv4 socket address from an address in network byte order and a port.
sockaddr_in makeAddress(std::uint32_t addressNetworkOrder, std::uint16_t port);

}  // namespace strandlink::net
