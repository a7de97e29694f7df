// MIDI thru and its feedback-loop guard.
#pragma once

namespace strandlink {
class Session;
}

namespace strandlink::midi {

void chkMidiThru_Click(Session& s);
// True when thru may run; false, after the warning, when it would loop.
bool CheckFeedbackLoop(Session& s);

}  // namespace strandlink::midi
