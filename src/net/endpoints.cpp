// Stub: being written.
#include "net/endpoints.h"

namespace strandlink::net {
bool OpenUdpEndpoints(Session&) { return true; }
void CloseUdpEndpoints(Session&) {}
}
