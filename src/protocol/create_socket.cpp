#include "protocol/create_socket.h"

namespace strandlink::protocol {

bool createSocket(net::UdpSocket& socket, PeerSink& sink, Operation operation) {
  net::SocketError error = net::SocketError::Ok;
  socket = net::UdpSocket::create(error);
  if (socket.valid()) return true;
  sink.peerProblem(SocketFailure{operation, error});
  return false;
}

}  // namespace strandlink::protocol
