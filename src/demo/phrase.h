// The demo's musical phrase and the readable form of a short MIDI message.
#pragma once

#include <QString>

#include <vector>

#include "midi/short_message.h"

namespace strandlink::demo {

struct PhraseEvent {
  int atMs;  // from the start of the phrase
  midi::ShortMessage message;
};

// Four chords with a two-note melody over each, then a last chord whose top note
// bends up a whole tone and back while the modulation wheel sweeps; every note
// ends, and the bend and the wheel end at rest. In time order, on channel 1.
std::vector<PhraseEvent> demoPhrase();

// "90 3c 64  note on  ch 1  C4  vel 100": the bytes, then what they mean.
QString describeMessage(const midi::ShortMessage& message);

}  // namespace strandlink::demo
