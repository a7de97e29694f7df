// Devices that go away during a session and come back: a check once a second
// says so once per disappearance and opens the device again, by the name it was
// listed under, as soon as it is back. Window thread.
#pragma once

namespace strandlink {
class Session;
}

namespace strandlink::midi {

void CheckMidiDevices(Session& s);

}  // namespace strandlink::midi
