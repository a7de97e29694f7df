#include "protocol/multicast/multicast_socket.h"

#include <sys/socket.h>

#include <cerrno>

#include "net/socket_errors.h"

namespace strandlink::protocol::multicast {

namespace {

net::SocketError errnoError() { return net::socketErrorFromErrno(errno); }

template <class Value>
net::SocketError setOption(const net::UdpSocket& socket, int level, int name, const Value& value) {
  return ::setsockopt(socket.descriptor(), level, name, &value, sizeof value) == 0 ? net::SocketError::Ok
                                                                                   : errnoError();
}

}  // namespace

MulticastSocket MulticastSocket::open(const GroupOptions& options, net::SocketError& error) {
  MulticastSocket s;
  s.options_ = options;
  const bool sound = IN_MULTICAST(ntohl(options.group)) && options.ttl >= 0 && options.ttl <= 255;
  error = sound ? s.openReceiver() : net::SocketError::InvalidArgument;
  if (error == net::SocketError::Ok) error = s.openSender();
  if (error != net::SocketError::Ok) s.close();
  return s;
}

// Bound to the group's address, not to any: it then takes only what is sent to the
// group, not other groups' or unicast traffic on the same port.
net::SocketError MulticastSocket::openReceiver() {
  net::SocketError error = net::SocketError::Ok;
  receiver_ = net::UdpSocket::create(error);
  if (error != net::SocketError::Ok) return error;
  // Before the bind, so that nothing waits in it unstamped: steady timing plays at
  // the arrival plus the delay, and the kernel's time leaves out our own wake-up.
  receiver_.stampArrivals();
  receiver_.widenReceiveBuffer();
  if ((error = setOption(receiver_, SOL_SOCKET, SO_REUSEADDR, int{1})) != net::SocketError::Ok) return error;
  if ((error = receiver_.bind(net::makeAddress(options_.group, options_.port))) != net::SocketError::Ok) return error;
  ip_mreq join{};
  join.imr_multiaddr.s_addr = options_.group;
  join.imr_interface.s_addr = options_.interfaceAddress;
  if ((error = setOption(receiver_, IPPROTO_IP, IP_ADD_MEMBERSHIP, join)) != net::SocketError::Ok) return error;
  // Only the groups this socket joined, not every group the host is in.
  return setOption(receiver_, IPPROTO_IP, IP_MULTICAST_ALL, int{0});
}

// Connected to the group, so that the kernel picks the source address and port
// now and ownAddress() can tell them.
net::SocketError MulticastSocket::openSender() {
  net::SocketError error = net::SocketError::Ok;
  sender_ = net::UdpSocket::create(error);
  if (error != net::SocketError::Ok) return error;
  if ((error = setOption(sender_, IPPROTO_IP, IP_MULTICAST_LOOP, std::uint8_t{1})) != net::SocketError::Ok)
    return error;
  if ((error = setOption(sender_, IPPROTO_IP, IP_MULTICAST_TTL, std::uint8_t(options_.ttl))) != net::SocketError::Ok)
    return error;
  if (options_.interfaceAddress != htonl(INADDR_ANY)) {
    in_addr on{options_.interfaceAddress};
    if ((error = setOption(sender_, IPPROTO_IP, IP_MULTICAST_IF, on)) != net::SocketError::Ok) return error;
    if ((error = sender_.bind(net::makeAddress(options_.interfaceAddress, 0))) != net::SocketError::Ok) return error;
  }
  const sockaddr_in group = net::makeAddress(options_.group, options_.port);
  if (::connect(sender_.descriptor(), reinterpret_cast<const sockaddr*>(&group), sizeof group) != 0)
    return errnoError();
  socklen_t length = sizeof own_;
  if (::getsockname(sender_.descriptor(), reinterpret_cast<sockaddr*>(&own_), &length) != 0) return errnoError();
  return net::SocketError::Ok;
}

net::Transfer MulticastSocket::send(std::span<const std::uint8_t> payload) const {
  return sender_.sendTo(payload, net::makeAddress(options_.group, options_.port));
}

net::Transfer MulticastSocket::receive(std::span<std::uint8_t> buffer, sockaddr_in& from,
                                       std::int64_t* arrivalMicros) const {
  for (;;) {
    const net::Transfer got = receiver_.receiveFrom(buffer, from, arrivalMicros);
    if (!got.ok() || !isOwn(from)) return got;
  }
}

bool MulticastSocket::isOwn(const sockaddr_in& from) const {
  return from.sin_addr.s_addr == own_.sin_addr.s_addr && from.sin_port == own_.sin_port;
}

void MulticastSocket::close() {
  receiver_.close();
  sender_.close();
}

}  // namespace strandlink::protocol::multicast
