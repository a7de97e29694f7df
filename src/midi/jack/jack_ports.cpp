#include "midi/jack/jack_ports.h"

namespace strandlink::midi::jack {

JackInput::~JackInput() { close(); }

int JackInput::start() {
  if (!open_.load()) return kMidiNotOpen;
  host_->cycle().setDelivering(true);
  return kMidiOk;
}

int JackInput::stop() {
  if (!open_.load()) return kMidiNotOpen;
  host_->cycle().setDelivering(false);
  return kMidiOk;
}

// Other programs' connections to our own port stay; so does the port.
int JackInput::close() {
  if (!open_.load()) return kMidiNotOpen;
  // Closing is the window's business; from inside the handler it would wait for itself.
  if (host_->cycle().insideHandler()) return kMidiServiceError;
  open_.store(false);
  host_->cycle().detach();
  host_->disconnectInput();
  return kMidiOk;
}

JackOutput::~JackOutput() { close(); }

// Any thread: the MIDI thread plays thru, the window's thread received datagrams.
int JackOutput::send(MidiEventView message) {
  if (!open_.load()) return kMidiNotOpen;
  return host_->cycle().send(message);
}

int JackOutput::sendAt(MidiEventView message, std::int64_t playMicros) {
  if (!open_.load()) return kMidiNotOpen;
  return host_->cycle().send(message, playMicros);
}

int JackOutput::close() {
  if (open_.exchange(false) == false) return kMidiNotOpen;
  host_->cycle().releaseOutput();
  host_->disconnectOutput();
  return kMidiOk;
}

}  // namespace strandlink::midi::jack
