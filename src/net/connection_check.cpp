// Stub: being written.
#include "net/connection_check.h"

namespace strandlink::net {
void tmrCeckConnection_Timer(Session&) {}
void HandleControlByte(Session&, std::uint8_t) {}
}
