// A protocol's sockets are made at Start; one the system will not make ends the
// program (the link does so on StartOutcome::Result::CannotCreateSocket).
#pragma once

#include <QString>

#include "net/udp_socket.h"

namespace strandlink::report {
class Reporter;
}

namespace strandlink::protocol {

// The new socket in socket; false once the reason (after context) and the box
// that says the program ends have been reported.
bool createSocket(net::UdpSocket& socket, report::Reporter& reporter, const QString& context);

}  // namespace strandlink::protocol
