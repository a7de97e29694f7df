// The MIDI service on a JACK server (PipeWire's JACK too), over our own client:
// one client per copy with the ports "in" and "out"; the other clients' ports make
// up the device lists. Window thread, except what MidiOutput::send allows.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "midi/jack/jack_host.h"
#include "midi/midi_service.h"

namespace strandlink::midi::jack {

class JackMidiService final : public MidiService {
 public:
  // The service with its client made and activated, or nullptr when no server answers.
  static std::unique_ptr<JackMidiService> connect(const std::string& clientName);
  ~JackMidiService() override;

  std::vector<std::string> inputNames() override;
  std::vector<std::string> outputNames() override;
  MidiError openInput(int entry, MidiInputHandler& handler, std::unique_ptr<MidiInput>& port) override;
  MidiError openOutput(int entry, std::unique_ptr<MidiOutput>& port) override;
  std::string errorText(MidiError error) const override { return midiErrorText(error); }
  bool inputPresent(int entry) override;
  bool outputPresent(int entry) override;
  ServiceState checkService() override;
  // From JACK's port registration callback; a server that went away is looked for
  // again here, and its new client counts as a change.
  bool portsChanged() override;
  std::string clientName() const override { return host_->clientName(); }

 private:
  explicit JackMidiService(std::shared_ptr<JackHost> host) : host_(std::move(host)) {}
  // A client whose server answers, made anew if the last one lost its server.
  bool serverAnswers();
  bool present(const std::vector<std::string>& ports, int entry, const std::string& own);
  // The other clients' ports with these flags, after our own (entry 0); their
  // full names are kept in ports for opening by entry.
  std::vector<std::string> listPorts(unsigned long flags, std::vector<std::string>& ports, const std::string& own);

  std::shared_ptr<JackHost> host_;
  // Full names of the last lists by entry; entry 0 (empty) is our own port.
  std::vector<std::string> inputPorts_{std::string()};
  std::vector<std::string> outputPorts_{std::string()};
  // A server that came back within the check that found it gone: said next time.
  bool restoredUnsaid_ = false;
};

}  // namespace strandlink::midi::jack
