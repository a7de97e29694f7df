// A protocol's sockets are made at Start; one the system will not make ends the
// program (the link does so on StartOutcome::Result::CannotCreateSocket).
#pragma once

#include "net/udp_socket.h"
#include "protocol/peer_protocol.h"

namespace strandlink::protocol {

// The new socket in socket; false once the failure of operation has been handed up.
bool createSocket(net::UdpSocket& socket, PeerSink& sink, Operation operation);

}  // namespace strandlink::protocol
