// The two ends of the MIDI path: the input handler and the output of one message.
#pragma once

#include <cstdint>

#include "midi/short_message.h"

namespace strandlink {
class Session;
}

namespace strandlink::midi {

// MIDI thread: forwards one captured message (the session's input handler).
void MidiInProc(Session& s, const ShortMessage& message);

// Plays the first three bytes as one short message; data 1 of 128 or more is
// dropped. Either thread. True when the output took the message.
bool PlayMidiMessage(Session& s, const std::uint8_t* bytes);

}  // namespace strandlink::midi
