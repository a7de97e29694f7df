#include "midi/midi_service.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>

#include "midi/alsa/rtmidi_service.h"
#include "midi/jack/jack_service.h"
#include "midi/null_midi_service.h"

namespace strandlink::midi {

std::string midiErrorText(MidiError error) {
  switch (error) {
    case MidiError::Ok: return "The operation succeeded.";
    case MidiError::ServiceError: return "The MIDI service reported an error.";
    case MidiError::BadDevice: return "The device number names no device.";
    case MidiError::DeviceGone: return "The MIDI port is no longer there.";
    case MidiError::Allocated: return "The MIDI port is already in use.";
    case MidiError::NotOpen: return "The MIDI port is not open.";
    case MidiError::NoService: return "No MIDI service is running (neither an ALSA sequencer nor a JACK server).";
    case MidiError::ServiceLost: return "The MIDI service has gone away.";
    case MidiError::InvalidMessage: return "Not a whole, valid MIDI message.";
    case MidiError::NotReady: return "The MIDI output cannot take more messages now.";
  }
  // A number that names no error (a cast value): say which.
  return "Unknown MIDI error " + std::to_string(static_cast<int>(error)) + ".";
}

std::string listedPortName(std::string_view fullName) {
  std::string_view name = fullName.substr(0, fullName.find('\0'));
  if (name.size() > 31) {
    std::size_t end = 31;
    // Back off over continuation bytes (10xxxxxx) to the start of the cut character.
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    name = name.substr(0, end);
  }
  return std::string(name);
}

namespace {

bool alsaSequencerOpens() {
  const int fd = ::open("/dev/snd/seq", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  return std::find(apis.begin(), apis.end(), RtMidi::LINUX_ALSA) != apis.end();
}

// JACK allows client names of limited length and uses ':' to part client and port.
std::string usableClientName(const std::string& name) {
  std::string cleaned = name.empty() ? std::string("Strandlink") : name;
  std::replace(cleaned.begin(), cleaned.end(), ':', '-');
  if (cleaned.size() > 32) {
    std::size_t end = 32;  // not inside a UTF-8 character
    while (end > 0 && (static_cast<unsigned char>(cleaned[end]) & 0xC0) == 0x80) --end;
    cleaned.resize(end);
  }
  return cleaned;
}

// The JACK service when a server answers (the one JACK_DEFAULT_SERVER names, if
// set; never one started for us), else the one without MIDI.
std::unique_ptr<MidiService> jackOrNothing(const std::string& name) {
  if (auto jack = jack::JackMidiService::connect(name)) return jack;
  return std::make_unique<NullMidiService>();
}

}  // namespace

std::unique_ptr<MidiService> makeMidiService(const std::string& clientName) {
  const std::string name = usableClientName(clientName);
  std::string forced;
  if (const char* value = std::getenv("STRANDLINK_MIDI_API")) forced = value;
  std::transform(forced.begin(), forced.end(), forced.begin(), [](unsigned char c) { return char(std::tolower(c)); });

  if (forced == "alsa") {
    if (alsaSequencerOpens()) return std::make_unique<alsa::RtMidiService>(name);
    return std::make_unique<NullMidiService>();
  }
  if (forced == "jack") return jackOrNothing(name);
  if (!forced.empty())
    std::cerr << "Strandlink: STRANDLINK_MIDI_API=" << forced
              << " is neither alsa nor jack; choosing the MIDI service by itself.\n";

  if (alsaSequencerOpens()) return std::make_unique<alsa::RtMidiService>(name);
  return jackOrNothing(name);
}

}  // namespace strandlink::midi
