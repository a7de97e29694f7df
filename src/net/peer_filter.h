// The peer filter: with it on, MIDI datagrams, control bytes and chat lines are
// taken only from the remote host's address. The port is not compared, so a peer
// behind address translation still gets through. Window thread only.
#pragma once

namespace strandlink {
class Session;
}

namespace strandlink::net {

// Whether the datagram just read (its sender in RecvFromAddr) may be used. A
// rejected one is counted, never reported in a box.
bool AcceptFromSender(Session& s);

}  // namespace strandlink::net
