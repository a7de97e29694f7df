#include "midi/midi_path.h"

#include "net/midi_datagrams.h"
#include "session/session.h"

namespace strandlink::midi {

// MIDI thread. Forwards from inside the callback: no queue, no lock, no hand-off.
void MidiInProc(Session& s, const ShortMessage& message) {
  // The network first, then the local thru.
  net::SendMidiMessage(s, message.bytes.data());
  if (s.state.MidiThruEnabled.load(std::memory_order_relaxed)) PlayMidiMessage(s, message.bytes.data());
}

bool PlayMidiMessage(Session& s, const std::uint8_t* bytes) {
  // The packed word's low half is a signed 16-bit value: a data 1 of 128 or more
  // cannot be packed, and such a message is dropped without a word.
  if (bytes[1] >= 128) return false;
  // Before the output is open (the first instant of a session) there is nothing to play on.
  MidiOutput* out = s.state.hMidiOut.load(std::memory_order_acquire);
  return out != nullptr && out->send(ShortMessage::fromBytes({bytes, 3})) == kMidiOk;
}

}  // namespace strandlink::midi
