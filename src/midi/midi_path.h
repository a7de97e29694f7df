// The two ends of the MIDI path: the input callback and the output of one message.
#pragma once

#include <cstdint>

namespace strandlink {
class Session;
}

namespace strandlink::midi {

// MIDI thread: the input callback (context is the Session).
void MidiInProc(void* context, std::uint32_t message, std::uint32_t param1);

// Plays the first three bytes as one short message; data 1 of 128 or more is
// dropped. Either thread. True when the output took the message.
bool PlayMidiMessage(Session& s, const std::uint8_t* bytes);

}  // namespace strandlink::midi
