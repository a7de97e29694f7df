// A place in a multicast group: joins the group on one interface, sends to it and
// reads from it, and drops what it sent itself (multicast loopback is on, so that
// copies on one computer hear each other, and it hears itself too).
//
// Two sockets under one roof: the receiving one is bound to the group's port with
// SO_REUSEADDR, which every copy on the host shares; the sending one has a port of
// its own. Sending from the shared port would give every copy on a host the same
// source address and port, and a copy could not tell its own datagrams from its
// neighbours'. Errors are socket error numbers (net/socket_errors.h).
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <span>

#include "net/udp_socket.h"
#include "protocol/multicast/multicast_codec.h"

namespace strandlink::protocol::multicast {

struct GroupOptions {
  std::uint32_t group = htonl(kDefaultGroupHostOrder);  // network byte order
  std::uint16_t port = kDefaultPort;
  std::uint32_t interfaceAddress = htonl(INADDR_ANY);  // the interface to join and send on; any: the system's choice
  int ttl = 1;                                         // 1: this LAN only
};

class MulticastSocket {
 public:
  MulticastSocket() = default;

  // Joins the group; on failure an empty socket (valid() false) and the error
  // (SocketError::InvalidArgument for an address that is no group, or a TTL past 255).
  static MulticastSocket open(const GroupOptions& options, net::SocketError& error);

  bool valid() const { return receiver_.valid() && sender_.valid(); }
  // The descriptor to watch for datagrams (net/read_notifier.h).
  int receiveDescriptor() const { return receiver_.descriptor(); }
  // The descriptor that sends to the group (connected to it), for a thread that
  // sends while another owns the socket (net::sendDatagram).
  int sendDescriptor() const { return sender_.descriptor(); }
  // The source address and port of what this socket sends.
  const sockaddr_in& ownAddress() const { return own_; }
  const GroupOptions& options() const { return options_; }

  // One datagram to the group.
  net::Transfer send(std::span<const std::uint8_t> payload) const;
  // The next datagram another socket sent to the group: ours are read and passed
  // over. Fails with SocketError::WouldBlock when none waits. arrivalMicros as in
  // net::UdpSocket::receiveFrom.
  net::Transfer receive(std::span<std::uint8_t> buffer, sockaddr_in& from, std::int64_t* arrivalMicros = nullptr) const;
  bool isOwn(const sockaddr_in& from) const;

  void close();

 private:
  net::SocketError openReceiver();
  net::SocketError openSender();

  GroupOptions options_;
  net::UdpSocket receiver_;
  net::UdpSocket sender_;
  sockaddr_in own_{};
};

}  // namespace strandlink::protocol::multicast
