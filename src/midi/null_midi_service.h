// The service of a machine without MIDI (neither an ALSA sequencer nor a JACK
// server): both lists are empty and every open fails with MidiError::NoService, so the
// rest of the program runs unchanged.
#pragma once

#include "midi/midi_service.h"

namespace strandlink::midi {

class NullMidiService final : public MidiService {
 public:
  std::vector<std::string> inputNames() override { return {}; }
  std::vector<std::string> outputNames() override { return {}; }
  MidiError openInput(int, MidiInputHandler&, std::unique_ptr<MidiInput>&) override { return MidiError::NoService; }
  MidiError openOutput(int, std::unique_ptr<MidiOutput>&) override { return MidiError::NoService; }
  std::string errorText(MidiError error) const override { return midiErrorText(error); }
  bool inputPresent(int) override { return false; }
  bool outputPresent(int) override { return false; }
};

}  // namespace strandlink::midi
