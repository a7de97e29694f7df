#include "midi/midi_path.h"

#include "net/midi_datagrams.h"
#include "session/session.h"

namespace strandlink::midi {

// MIDI thread. Forwards from inside the callback: no queue, no lock, no hand-off.
void MidiInProc(void* context, std::uint32_t message, std::uint32_t param1) {
  if (message != MIM_DATA || context == nullptr) return;
  auto& s = *static_cast<Session*>(context);
  const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(param1 & 0xFF),
                                 static_cast<std::uint8_t>((param1 >> 8) & 0xFF),
                                 static_cast<std::uint8_t>((param1 >> 16) & 0xFF)};
  // The network first, then the local thru.
  net::SendMidiMessage(s, bytes);
  if (s.state.MidiThruEnabled.load(std::memory_order_relaxed)) PlayMidiMessage(s, bytes);
}

bool PlayMidiMessage(Session& s, const std::uint8_t* bytes) {
  // The packed word's low half is a signed 16-bit value: a data 1 of 128 or more
  // cannot be packed, and such a message is dropped without a word.
  if (bytes[1] >= 128) return false;
  const std::uint32_t packed = std::uint32_t(bytes[0]) | (std::uint32_t(bytes[1]) << 8) |
                               (std::uint32_t(bytes[2]) << 16);
  // Before the output is open (the first instant of a session) there is nothing to play on.
  MidiOutPort* out = s.state.hMidiOut.load(std::memory_order_acquire);
  return out != nullptr && out->sendShort(packed) == kMidiOk;
}

}  // namespace strandlink::midi
