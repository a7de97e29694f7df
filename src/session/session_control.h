// Starting and stopping a session, and the closing of the program.
#pragma once

namespace strandlink {

class Session;

// Start: validate, guard thru, open the endpoints and the devices, go Running.
// Returns true when the session is running afterwards.
bool cmdStart_Click(Session& s);

// Stop while Running: input stopped, reset, closed; output closed; window Idle;
// sockets closed.
void StopSession(Session& s);

// The unload: whatever is still open is closed, the socket service cleaned up and
// the default settings file written (unless saveDefault is false: a window-less
// run given its own settings file leaves the default file alone).
void Form_Unload(Session& s, bool saveDefault = true);

}  // namespace strandlink
