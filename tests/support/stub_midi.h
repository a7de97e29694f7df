// MIDI services for tests where the real one cannot show what is tested: fixed
// device names that no JACK server would list (a device that is input and output
// at once), and ports whose opening and presence a test decides, to reach failures
// a real server does not produce on demand.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/midi_service.h"

namespace strandlink::test {

// Fixed names; every open fails as without a MIDI service.
class StubMidiService : public midi::MidiService {
 public:
  std::vector<std::string> inputNames() override { return inputs; }
  std::vector<std::string> outputNames() override { return outputs; }
  midi::MidiError openInput(int, midi::MidiInputHandler&, std::unique_ptr<midi::MidiInput>&) override {
    return midi::MidiError::NoService;
  }
  midi::MidiError openOutput(int, std::unique_ptr<midi::MidiOutput>&) override { return midi::MidiError::NoService; }
  std::string errorText(midi::MidiError) const override { return "No MIDI service is running."; }
  bool inputPresent(int) override { return false; }
  bool outputPresent(int) override { return false; }

  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
};

// Ports that open as the test says. Outputs record what they play; a thread of the
// test's plays the MIDI service's thread through deliver(), which keeps the
// input's promise: nothing reaches the handler outside start() and stop(), and
// stop() returns only once no call is running.
class ScriptedMidiService : public StubMidiService {
 public:
  struct Output : midi::MidiOutput {
    Output(ScriptedMidiService& s, std::size_t n) : service(s), number(n) {}
    using midi::MidiOutput::send;
    midi::MidiError send(midi::MidiEventView m) override {
      if (closed.load()) return midi::MidiError::NotOpen;
      std::lock_guard lock(service.mutex);
      service.played[number].push_back(midi::ShortMessage::fromBytes(m.bytes()));
      return midi::MidiError::Ok;
    }
    midi::MidiError close() override { return closed.exchange(true) ? midi::MidiError::NotOpen : midi::MidiError::Ok; }
    ScriptedMidiService& service;
    std::size_t number;
    std::atomic<bool> closed{false};
  };
  struct InputLine {
    std::atomic<midi::MidiInputHandler*> handler{nullptr};
    std::atomic<bool> started{false};
    std::atomic<int> inCall{0};
  };
  struct Input : midi::MidiInput {
    explicit Input(InputLine& l) : line(l) {}
    midi::MidiError start() override { return line.started = true, midi::MidiError::Ok; }
    midi::MidiError stop() override {
      line.started = false;
      while (line.inCall.load() > 0) std::this_thread::yield();
      return midi::MidiError::Ok;
    }
    midi::MidiError close() override { return stop(); }
    InputLine& line;
  };

  ScriptedMidiService() {
    inputs = {"own:in", "keys:out"};
    outputs = {"own:out", "synth:in"};
  }
  midi::MidiError openInput(int, midi::MidiInputHandler& h, std::unique_ptr<midi::MidiInput>& port) override {
    if (failInputOpens > 0 && failInputOpens-- > 0) return midi::MidiError::DeviceGone;
    line.handler = &h;
    port = std::make_unique<Input>(line);
    return midi::MidiError::Ok;
  }
  // The test's MIDI thread: one captured message; false when the input is not started.
  bool deliver(const midi::ShortMessage& m) {
    line.inCall.fetch_add(1);
    const bool started = line.started.load();
    if (started) line.handler.load()->onMidiMessage(midi::MidiEventView({m.bytes.data(), m.size}), 0);
    line.inCall.fetch_sub(1);
    return started;
  }
  midi::MidiError openOutput(int, std::unique_ptr<midi::MidiOutput>& port) override {
    std::lock_guard lock(mutex);
    played.emplace_back();
    port = std::make_unique<Output>(*this, played.size() - 1);
    return midi::MidiError::Ok;
  }
  bool inputPresent(int) override { return inputThere; }
  bool outputPresent(int) override { return outputThere; }
  // What every output opened so far played, in the order they were opened.
  std::vector<std::vector<midi::ShortMessage>> playedPerOutput() {
    std::lock_guard lock(mutex);
    return played;
  }

  std::mutex mutex;
  std::vector<std::vector<midi::ShortMessage>> played;
  InputLine line;
  int failInputOpens = 0;
  bool inputThere = true;
  bool outputThere = true;
};

}  // namespace strandlink::test
