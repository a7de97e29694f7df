// The MIDI service on the ALSA sequencer, over RtMidi. Our own ports are "in" and
// "out" of a client named after the program's instance.
#pragma once

#include <RtMidi.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "midi/midi_service.h"
#include "midi/alsa/rtmidi_ports.h"

namespace strandlink::midi::alsa {

class RtMidiService final : public MidiService {
 public:
  explicit RtMidiService(const std::string& clientName);

  std::vector<std::string> inputNames() override;
  std::vector<std::string> outputNames() override;
  MidiError openInput(int entry, MidiInputHandler& handler, std::unique_ptr<MidiInput>& port) override;
  MidiError openOutput(int entry, std::unique_ptr<MidiOutput>& port) override;
  std::string errorText(MidiError error) const override;
  bool inputPresent(int device) override;
  bool outputPresent(int device) override;
  // Yes every two seconds: each listing makes a short-lived sequencer client, so the
  // lists are compared no more often than that.
  bool portsChanged() override;

  // The names our own ports are registered under.
  const std::string& inputPortName() const { return inputPortName_; }
  const std::string& outputPortName() const { return outputPortName_; }

 private:
  template <class Backend>
  std::vector<std::string> listPorts(std::vector<std::string>& fullNames, const std::string& ownEntryName);
  bool isOwn(std::string_view fullName) const;
  template <class Backend>
  bool listed(const std::string& fullName);
  template <class Backend>
  struct Lister {
    RtMidiErrors errors;  // before backend: it outlives the object that reports to it
    std::unique_ptr<Backend> backend;
  };
  template <class Backend>
  bool listedBy(Lister<Backend>& lister, const std::string& fullName);

  std::string clientName_;
  std::string inputPortName_;
  std::string outputPortName_;
  // Full names of the last lists, by entry; entry 0 (empty) is our virtual port.
  std::vector<std::string> inputPorts_{std::string()};
  std::vector<std::string> outputPorts_{std::string()};
  VirtualPortFlag virtualInput_;
  VirtualPortFlag virtualOutput_;
  std::chrono::steady_clock::time_point nextListing_{};
  // What the backend said about the last failed open (window thread only).
  std::string detail_;
  // Kept between the once-a-second presence checks: a new client costs tens of
  // milliseconds.
  Lister<RtMidiIn> inputLister_;
  Lister<RtMidiOut> outputLister_;
};

// Whether a full port name is one of our client's ports called portName. ALSA
// names are "client:port c:p". Two copies with the same client name hide each other's
// ports too, which only matters on a machine that runs both.
bool isOwnPortName(std::string_view fullName, std::string_view clientName, std::string_view portName);

}  // namespace strandlink::midi::alsa
