// The MIDI service as the bridge uses it: port names by list entry, inputs that
// hand each captured message (short, real-time or a whole SysEx) to a handler on
// the service's own thread, outputs that play one message of any length. Every call
// answers with a MidiError, which a caller cannot drop unread; each has a text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "midi/midi_event.h"
#include "midi/short_message.h"

namespace strandlink::midi {

// What a MIDI call came to. The numbers are the ones an unknown error is shown
// with, and stay as they are.
enum class [[nodiscard]] MidiError : int{
    Ok = 0,
    BadDevice = 2,        // no device of that number
    DeviceGone = 3,       // the listed port has gone since the lists were taken
    NoService = 6,        // neither an ALSA sequencer nor a JACK server
    ServiceLost = 7,      // the service went away during the session (a JACK server ended)
    Allocated = 4,        // the port is in use
    NotOpen = 5,          // the handle is not open
    InvalidMessage = 11,  // no whole, playable message
    NotReady = 67,        // the output could not take the message now
    ServiceError = 1,     // anything else the backend reported
};

constexpr bool failed(MidiError error) { return error != MidiError::Ok; }

// The English text of an error, the same for every service; at most 255 characters.
std::string midiErrorText(MidiError error);

// Where an open input delivers what it captures.
class MidiInputHandler {
 public:
  // The MIDI service's thread, once per captured message, in arrival order: a
  // short message (1 to 3 bytes, as the port gave it), a real-time byte, or a SysEx
  // from F0 to F7, put back together when it came in pieces. The bytes are the
  // input's own and valid only during the call. On JACK this runs inside the
  // process callback, so whatever the handler does (the bridge sends a datagram:
  // a sendto and perhaps an eventfd write) the real-time thread does too; it must
  // neither allocate nor wait on another thread.
  // timeMicros: when the message was played into the input (for a SysEx in pieces,
  // its last piece), in microseconds of the monotonic clock (CLOCK_MONOTONIC,
  // std::chrono::steady_clock).
  virtual void onMidiMessage(MidiEventView message, std::int64_t timeMicros) = 0;
  // The same thread, when a message could not be delivered whole: a SysEx longer
  // than kMaxMessageBytes, or one broken off by another message before its F7.
  // MidiInput::droppedMessages() counts them.
  virtual void onMidiDropped() {}

 protected:
  ~MidiInputHandler() = default;
};

// Messages reach the handler only between start() and stop(), and stop() and
// close() return only once no handler call is running. close() refuses to run
// inside the handler, whose thread it may have to end.
class MidiInput {
 public:
  virtual ~MidiInput() = default;
  virtual MidiError start() = 0;
  virtual MidiError stop() = 0;
  virtual MidiError close() = 0;
  // Messages this input's port has dropped so far (see onMidiDropped()).
  virtual std::uint64_t droppedMessages() const { return 0; }
};

class MidiOutput {
 public:
  virtual ~MidiOutput() = default;
  // Any thread. Plays one whole message (MidiEventView::wellFormed()), a SysEx of
  // any length too, as soon as the service allows; the bytes are copied before
  // it returns. Refuses anything else with MidiError::InvalidMessage.
  virtual MidiError send(MidiEventView message) = 0;
  // Any thread. The same, played at a moment of the monotonic clock (µs, as
  // MidiInputHandler's times): at the frame that holds it, or at once when the
  // service can no longer place it there (a late message is never dropped).
  // Messages leave in the order they were given, sent or timed. A service
  // without a frame clock plays at once.
  virtual MidiError sendAt(MidiEventView message, std::int64_t playMicros) {
    static_cast<void>(playMicros);
    return send(message);
  }
  // A short message: exactly the bytes its status byte calls for, whatever else
  // it holds; MidiError::InvalidMessage when it is not playable.
  MidiError send(const ShortMessage& message) {
    return message.playable() ? send(MidiEventView(message.wireBytes())) : MidiError::InvalidMessage;
  }
  MidiError sendAt(const ShortMessage& message, std::int64_t playMicros) {
    return message.playable() ? sendAt(MidiEventView(message.wireBytes()), playMicros) : MidiError::InvalidMessage;
  }
  // How far ahead of a moment the service fixes what it plays then: one period
  // of a JACK server (a moment can only be placed into a cycle that has not
  // begun); 0 for a service that plays at once.
  virtual std::int64_t periodMicros() const { return 0; }
  virtual MidiError close() = 0;
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
  virtual MidiError openInput(int entry, MidiInputHandler& handler, std::unique_ptr<MidiInput>& port) = 0;
  virtual MidiError openOutput(int entry, std::unique_ptr<MidiOutput>& port) = 0;

  virtual std::string errorText(MidiError error) const = 0;

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
