// The service of a machine without MIDI (neither an ALSA sequencer nor a JACK
// server): both lists are empty and every open fails with kMidiNoService, so the
// rest of the program runs unchanged.
#pragma once

#include "midi/midi_service.h"

namespace strandlink::midi {

class NullMidiService final : public MidiService {
 public:
  std::vector<std::string> inputNames() override { return {}; }
  std::vector<std::string> outputNames() override { return {}; }
  int openInput(int, MidiInCallback, void*, std::unique_ptr<MidiInPort>&) override {
    return kMidiNoService;
  }
  int openOutput(int, std::unique_ptr<MidiOutPort>&) override { return kMidiNoService; }
  std::string errorText(int code) const override { return midiErrorText(code); }
};

}  // namespace strandlink::midi
