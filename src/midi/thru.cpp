// Stub: being written.
#include "midi/thru.h"

namespace strandlink::midi {
void chkMidiThru_Click(Session&) {}
bool CheckFeedbackLoop(Session&) { return true; }
}
