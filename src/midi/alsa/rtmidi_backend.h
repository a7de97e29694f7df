// The RtMidi objects behind our ports and lists, made so that RtMidi never throws
// at us: an error callback catches what it reports, and whatever it still throws
// (its constructors, allocation) is caught here. Every failure becomes our code.
#pragma once

#include <RtMidi.h>

#include <atomic>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "midi/midi_service.h"

namespace strandlink::midi::alsa {

// The first error RtMidi reports on one object. Lock-free, because the backend's
// own thread may report too (ALSA's input thread).
class RtMidiErrors {
 public:
  static void callback(RtMidiError::Type type, const std::string& text, void* self);

  bool any() const { return state_.load(std::memory_order_acquire) != kEmpty; }
  RtMidiError::Type type() const;
  std::string text() const;
  // Only while no other thread can report (before a backend thread runs, or under
  // the output's send guard).
  void clear() { state_.store(kEmpty, std::memory_order_release); }
  // From now on reports are dropped: the MIDI thread has nobody to tell.
  void ignoreFurther() { ignoring_.store(true, std::memory_order_release); }

 private:
  enum : int { kEmpty, kWriting, kWritten };
  std::atomic<int> state_{kEmpty};
  std::atomic<bool> ignoring_{false};
  RtMidiError::Type type_ = RtMidiError::UNSPECIFIED;
  char text_[200] = {};
};

// Makes an RtMidiIn or RtMidiOut on ALSA with errors going to `errors`, and checks
// that the sequencer answers. On failure `backend` stays empty.
template <class Backend>
MidiError createBackend(const std::string& clientName, RtMidiErrors& errors, std::unique_ptr<Backend>& backend,
                        std::string& detail) {
  try {
    auto made = std::make_unique<Backend>(RtMidi::LINUX_ALSA, clientName);
    made->setErrorCallback(&RtMidiErrors::callback, &errors);
    made->getPortCount();
    if (errors.any()) {
      detail = errors.text();
      return MidiError::NoService;
    }
    backend = std::move(made);
    return MidiError::Ok;
  } catch (const RtMidiError& e) {  // ALSA: the sequencer would not open
    detail = e.getMessage();
    return MidiError::NoService;
  } catch (const std::exception& e) {
    detail = e.what();
    return MidiError::ServiceError;
  }
}

// Full names of the ports the backend lists (readable ones for RtMidiIn, writable
// ones for RtMidiOut), in its order.
template <class Backend>
std::vector<std::string> listBackendPorts(Backend& backend) {
  std::vector<std::string> names;
  try {
    const unsigned count = backend.getPortCount();
    for (unsigned i = 0; i < count; ++i) names.push_back(backend.getPortName(i));
  } catch (const std::exception&) {
    // Keep what was listed: a backend that fails half way has nothing better.
  }
  return names;
}

// Opens our own virtual port named portName when fullName is empty, otherwise a
// port of ours named portName connected to the port called fullName, looked up now.
template <class Backend>
MidiError openBackendPort(Backend& backend, RtMidiErrors& errors, const std::string& fullName,
                          const std::string& portName, std::string& detail) {
  try {
    if (fullName.empty()) {
      backend.openVirtualPort(portName);
    } else {
      const std::vector<std::string> names = listBackendPorts(backend);
      unsigned index = 0;
      while (index < names.size() && names[index] != fullName) ++index;
      if (index == names.size()) return MidiError::DeviceGone;
      backend.openPort(index, portName);
    }
  } catch (const std::exception& e) {
    detail = e.what();
    return MidiError::ServiceError;
  }
  if (!errors.any()) return MidiError::Ok;
  detail = errors.text();
  switch (errors.type()) {
    // The port went between the look-up and the open.
    case RtMidiError::WARNING:
    case RtMidiError::INVALID_PARAMETER:
    case RtMidiError::NO_DEVICES_FOUND:
      if (!fullName.empty()) return MidiError::DeviceGone;
      return MidiError::ServiceError;
    default: return MidiError::ServiceError;
  }
}

}  // namespace strandlink::midi::alsa
