// The device lists, the chosen devices, and their opening and errors.
#pragma once

#include <cstdint>

namespace strandlink {
class Session;
}

namespace strandlink::midi {

void ListMidiDevices(Session& s);
void InputDevCombo_LostFocus(Session& s);
void OutputDevCombo_LostFocus(Session& s);
// True when either device failed (after its "Device Error" box and closing again).
bool OpenMidiDevices(Session& s);
void ReportMidiInError(Session& s, int code, std::int32_t device);
void ReportMidiOutError(Session& s, int code, std::int32_t device);

}  // namespace strandlink::midi
