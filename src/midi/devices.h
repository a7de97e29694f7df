// The device lists, the chosen devices, and their opening and errors.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QString>

namespace strandlink {
class Session;
}

namespace strandlink::midi {

// The name of entry `index` of a capability list as the lists show it (up to its
// first NUL, at most 31 characters); empty when there is no such entry.
QString DeviceName(const std::vector<std::string>& caps, std::int64_t index);

// afterMapper runs right after the mapper's entry is listed (start-up shows the window then).
void ListMidiDevices(Session& s, const std::function<void()>& afterMapper = {});
void InputDevCombo_LostFocus(Session& s);
void OutputDevCombo_LostFocus(Session& s);
// True when either device failed (after its "Device Error" box and closing again).
bool OpenMidiDevices(Session& s);
// Closing, with the error reports of Stop; a handle whose close failed stays set
// (the unload tries again). withReset: Stop resets the input between stopping
// and closing; the unload does not.
void CloseMidiInput(Session& s, bool withReset);
void CloseMidiOutput(Session& s);
void ReportMidiInError(Session& s, int code, std::int32_t device);
void ReportMidiOutError(Session& s, int code, std::int32_t device);

}  // namespace strandlink::midi
