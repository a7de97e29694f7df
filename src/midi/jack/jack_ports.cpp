#include "midi/jack/jack_ports.h"

namespace strandlink::midi::jack {

// NotOpen when its owner closed it already.
JackInput::~JackInput() { static_cast<void>(close()); }

MidiError JackInput::start() {
  if (!open_.load()) return MidiError::NotOpen;
  host_->cycle().setDelivering(true);
  return MidiError::Ok;
}

MidiError JackInput::stop() {
  if (!open_.load()) return MidiError::NotOpen;
  host_->cycle().setDelivering(false);
  return MidiError::Ok;
}

// Other programs' connections to our own port stay; so does the port.
MidiError JackInput::close() {
  if (!open_.load()) return MidiError::NotOpen;
  // Closing is the window's business; from inside the handler it would wait for itself.
  if (host_->cycle().insideHandler()) return MidiError::ServiceError;
  open_.store(false);
  host_->cycle().detach();
  host_->disconnectInput();
  return MidiError::Ok;
}

JackOutput::~JackOutput() { static_cast<void>(close()); }

// Any thread: the MIDI thread plays thru, the window's thread received datagrams.
MidiError JackOutput::send(MidiEventView message) {
  if (!open_.load()) return MidiError::NotOpen;
  return host_->cycle().send(message);
}

MidiError JackOutput::sendAt(MidiEventView message, std::int64_t playMicros) {
  if (!open_.load()) return MidiError::NotOpen;
  return host_->cycle().send(message, playMicros);
}

MidiError JackOutput::close() {
  if (open_.exchange(false) == false) return MidiError::NotOpen;
  host_->cycle().releaseOutput();
  host_->disconnectOutput();
  return MidiError::Ok;
}

}  // namespace strandlink::midi::jack
