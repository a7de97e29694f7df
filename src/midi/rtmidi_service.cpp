// Stub: being written.
#include "midi/midi_service.h"

namespace strandlink::midi {
std::unique_ptr<MidiService> makeMidiService(const std::string&) { return nullptr; }
}
