// Stub: being written.
#include "midi/devices.h"

namespace strandlink::midi {
void ListMidiDevices(Session&) {}
void InputDevCombo_LostFocus(Session&) {}
void OutputDevCombo_LostFocus(Session&) {}
bool OpenMidiDevices(Session&) { return true; }
void ReportMidiInError(Session&, int, std::int32_t) {}
void ReportMidiOutError(Session&, int, std::int32_t) {}
}
