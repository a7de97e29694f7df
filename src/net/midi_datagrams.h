// MIDI on the wire: one 3-byte datagram per message.
#pragma once

#include <cstdint>

namespace strandlink {
class Session;
}

namespace strandlink::net {

// MIDI thread: sends status, data 1, data 2 to the peer; counts it.
void SendMidiMessage(Session& s, const std::uint8_t message[3]);

// Window thread: reads one datagram from the MIDI socket and plays it.
void txtReceiveWindow_MouseUp(Session& s);

}  // namespace strandlink::net
