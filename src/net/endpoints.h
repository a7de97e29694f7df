// The two UDP endpoints of a session.
#pragma once

namespace strandlink {
class Session;
}

namespace strandlink::net {

// Creates, arms and binds both sockets from the four network boxes. True when a
// bind failed (both sockets are then closed again). The fatal paths end the program
// through Session::fatalExit and return true if it returns.
bool OpenUdpEndpoints(Session& s);

// Closes both sockets and their notifications; handles become -1.
void CloseUdpEndpoints(Session& s);

}  // namespace strandlink::net
