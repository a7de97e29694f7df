// Stub: being written.
#include "midi/midi_path.h"

namespace strandlink::midi {
void MidiInProc(void*, std::uint32_t, std::uint32_t) {}
void PlayMidiMessage(Session&, const std::uint8_t*) {}
}
