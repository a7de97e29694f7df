// Stub: being written.
#include "net/midi_datagrams.h"

namespace strandlink::net {
void SendMidiMessage(Session&, const std::uint8_t*) {}
void txtReceiveWindow_MouseUp(Session&) {}
}
