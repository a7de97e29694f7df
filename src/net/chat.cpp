// Stub: being written.
#include "net/chat.h"

namespace strandlink::net {
bool txtSend_KeyPress(Session&, int) { return false; }
void txtReceiveWindowChat_MouseUp(Session&) {}
QByteArray toLatin1Bytes(const QString&) { return {}; }
}
