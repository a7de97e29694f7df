// The MIDI service as the bridge uses it: port names by list entry, inputs that
// hand each captured message to a handler on the service's own thread, outputs
// that play one short message. Errors are values: 0 is success, anything else has
// a text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "midi/short_message.h"

namespace strandlink::midi {

// Error codes of the adapter (0 = success).
enum MidiError : int {
  kMidiOk = 0,
  kMidiBadDevice = 2,      // no device of that number
  kMidiDeviceGone = 3,     // the listed port has gone since the lists were taken
  kMidiNoService = 6,      // neither an ALSA sequencer nor a JACK server
  kMidiServiceLost = 7,    // the service went away during the session (a JACK server ended)
  kMidiAllocated = 4,      // the port is in use
  kMidiNotOpen = 5,        // the handle is not open
  kMidiInvalidMessage = 11,  // no valid short message
  kMidiNotReady = 67,      // the output could not take the message now
  kMidiServiceError = 1,   // anything else the backend reported
};

// The English text of a code, the same for every service; at most 255 characters.
std::string midiErrorText(int code);

// Where an open input delivers what it captures.
class MidiInputHandler {
 public:
  // The MIDI service's thread, once per captured short message, in arrival order.
  // timeMicros: when the message was played into the input, in microseconds of the
  // monotonic clock (CLOCK_MONOTONIC, std::chrono::steady_clock).
  virtual void onMidiMessage(const ShortMessage& message, std::int64_t timeMicros) = 0;

 protected:
  ~MidiInputHandler() = default;
};

// Messages reach the handler only between start() and stop(), and stop() and
// close() return only once no handler call is running. close() refuses to run
// inside the handler, whose thread it may have to end.
class MidiInput {
 public:
  virtual ~MidiInput() = default;
  virtual int start() = 0;
  virtual int stop() = 0;
  virtual int close() = 0;
};

class MidiOutput {
 public:
  virtual ~MidiOutput() = default;
  // Any thread. Sends exactly the bytes the status byte calls for, as soon as the
  // service allows; refuses a message that is not playable with kMidiInvalidMessage.
  virtual int send(const ShortMessage& message) = 0;
  // Any thread. The same, played at a moment of the monotonic clock (µs, as
  // MidiInputHandler's times): at the frame that holds it, or at once when the
  // service can no longer place it there (a late message is never dropped).
  // Messages leave in the order they were given, sent or timed. A service
  // without a frame clock plays at once.
  virtual int sendAt(const ShortMessage& message, std::int64_t playMicros) {
    static_cast<void>(playMicros);
    return send(message);
  }
  // How far ahead of a moment the service fixes what it plays then: one period
  // of a JACK server (a moment can only be placed into a cycle that has not
  // begun); 0 for a service that plays at once.
  virtual std::int64_t periodMicros() const { return 0; }
  virtual int close() = 0;
};

// What the once-a-second check of a running session finds about the service itself.
enum class ServiceState {
  Up,        // answering as before
  Lost,      // went away since the last check, our ports and connections with it
  Down,      // still away
  Restored,  // answering again: our ports are back, connected to the chosen devices
};

class MidiService {
 public:
  virtual ~MidiService() = default;

  // Full port names. Input entry 0 is our own input port, entry 0 of the outputs
  // our own output port; the other entries are the existing readable (inputs) and
  // writable (outputs) ports.
  virtual std::vector<std::string> inputNames() = 0;
  virtual std::vector<std::string> outputNames() = 0;

  // Open by the entry of the last list taken; port is set only on success.
  virtual int openInput(int entry, MidiInputHandler& handler, std::unique_ptr<MidiInput>& port) = 0;
  virtual int openOutput(int entry, std::unique_ptr<MidiOutput>& port) = 0;

  virtual std::string errorText(int code) const = 0;

  // Whether the port behind an entry of the last list is still there (unplugged
  // devices and ended programs take theirs away).
  virtual bool inputPresent(int entry) = 0;
  virtual bool outputPresent(int entry) = 0;

  // Window thread, once a second while a session runs. A service that can go away
  // and come back (a JACK server) reconnects here by itself; Lost is answered once
  // per loss. While it is not Up, the entries' presence says nothing new.
  virtual ServiceState checkService() { return ServiceState::Up; }

  // Window thread, while no session runs: whether ports may have come or gone
  // since the lists were last taken. A service that follows port registration
  // answers from that; one that cannot says yes, and the lists are compared.
  virtual bool portsChanged() { return true; }

  // The name our ports appear under, which the server may have made other than
  // the one asked for (JACK gives "NAME-01" when a client is already called NAME);
  // empty when the service names none.
  virtual std::string clientName() const { return {}; }
};

// The name a port is listed under: its name up to the first NUL, at most 31 bytes,
// without cutting a UTF-8 character in two.
std::string listedPortName(std::string_view fullName);

// The service this machine offers: ALSA (through RtMidi) when /dev/snd/seq opens,
// else JACK (our own client, PipeWire's JACK too) when a server runs, else one with
// empty lists. STRANDLINK_MIDI_API=alsa|jack forces one. clientName is how our
// ports appear to other programs ("NAME:in", "NAME:out" on JACK).
std::unique_ptr<MidiService> makeMidiService(const std::string& clientName = "Strandlink");

}  // namespace strandlink::midi
