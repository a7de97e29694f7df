// Stub: being written.
#include "session/session_control.h"

namespace strandlink {
bool cmdStart_Click(Session&) { return false; }
void StopSession(Session&) {}
void Form_Unload(Session&) {}
}
