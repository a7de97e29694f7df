// The MIDI service as the bridge uses it: device names by number, input ports that
// call back per message on the service's own thread, output ports that send one
// packed short message. Errors are values: 0 is success, anything else has a text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace strandlink::midi {

// Message codes handed to the input callback.
inline constexpr std::uint32_t MIM_OPEN = 0x3C1;
inline constexpr std::uint32_t MIM_CLOSE = 0x3C2;
inline constexpr std::uint32_t MIM_DATA = 0x3C3;

// Error codes of the adapter (0 = success).
enum MidiError : int {
  kMidiOk = 0,
  kMidiBadDevice = 2,      // no device of that number
  kMidiDeviceGone = 3,     // the listed port has gone since the lists were taken
  kMidiNoService = 6,      // neither an ALSA sequencer nor a JACK server
  kMidiAllocated = 4,      // the port is in use
  kMidiNotOpen = 5,        // the handle is not open
  kMidiInvalidMessage = 11,  // no valid short message
  kMidiNotReady = 67,      // the output could not take the message now
  kMidiServiceError = 1,   // anything else the backend reported
};

// The English text of a code, the same for every service; at most 255 characters.
std::string midiErrorText(int code);

// Called on the MIDI service's thread, once per event, in arrival order.
// param1 packs status (bits 0-7), data 1 (8-15) and data 2 (16-23).
using MidiInCallback = void (*)(void* context, std::uint32_t message, std::uint32_t param1);

// Messages flow to the callback only between start() and stop() (or reset()), and
// stop(), reset() and close() return only once no callback is running. close()
// refuses to run inside the callback, whose thread it has to end.
class MidiInPort {
 public:
  virtual ~MidiInPort() = default;
  virtual int start() = 0;
  virtual int stop() = 0;
  virtual int reset() = 0;
  virtual int close() = 0;
};

class MidiOutPort {
 public:
  virtual ~MidiOutPort() = default;
  // Sends exactly the bytes the status byte calls for; refuses a word that is no
  // valid short message with kMidiInvalidMessage. Callable from any thread.
  virtual int sendShort(std::uint32_t packed) = 0;
  virtual int close() = 0;
};

class MidiService {
 public:
  virtual ~MidiService() = default;

  // Input device 0 is our own virtual input; 1.. are the readable ports.
  virtual std::vector<std::string> inputNames() = 0;
  // Entry 0 is the mapper (our own virtual output, device -1); entry k is device k-1.
  virtual std::vector<std::string> outputNames() = 0;

  // Open by the entry of the last list taken; port is set only on success.
  virtual int openInput(int device, MidiInCallback callback, void* context,
                        std::unique_ptr<MidiInPort>& port) = 0;
  virtual int openOutput(int device, std::unique_ptr<MidiOutPort>& port) = 0;

  virtual std::string errorText(int code) const = 0;

  // Whether the port behind an entry of the last list is still there (unplugged
  // devices and ended programs take theirs away). Our own virtual ports always are.
  virtual bool inputPresent(int device) { (void)device; return true; }
  virtual bool outputPresent(int device) { (void)device; return true; }
};

// The service this machine offers: ALSA when /dev/snd/seq opens, else JACK when a
// server runs, else one with empty lists. STRANDLINK_MIDI_API=alsa|jack forces one.
// clientName is how our ports appear to other programs.
std::unique_ptr<MidiService> makeMidiService(const std::string& clientName = "Strandlink");

}  // namespace strandlink::midi
