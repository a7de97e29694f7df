// A MIDI service with fixed device names and no ports, for tests in which MIDI
// does not take part (settings, addresses, the window's layout).
#pragma once

#include <string>
#include <vector>

#include "midi/midi_service.h"

namespace strandlink::test {

class StubMidiService : public midi::MidiService {
 public:
  std::vector<std::string> inputNames() override { return inputs; }
  std::vector<std::string> outputNames() override { return outputs; }
  int openInput(int, midi::MidiInputHandler&, std::unique_ptr<midi::MidiInput>&) override {
    return midi::kMidiNoService;
  }
  int openOutput(int, std::unique_ptr<midi::MidiOutput>&) override { return midi::kMidiNoService; }
  std::string errorText(int) const override { return "No MIDI service is running."; }
  bool inputPresent(int) override { return false; }
  bool outputPresent(int) override { return false; }

  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
};

}  // namespace strandlink::test
