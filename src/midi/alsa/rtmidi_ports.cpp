#include "midi/alsa/rtmidi_ports.h"

#include <array>
#include <span>
#include <thread>

#include "base/monotonic_clock.h"
#include "midi/short_message.h"

namespace strandlink::midi::alsa {

namespace {

// The input port whose callback this thread is running, if any: stopping from
// inside our own callback must not wait for itself.
thread_local const RtMidiInPort* tDelivering = nullptr;

bool takeVirtualPort(const VirtualPortFlag& flag) { return !flag || !flag->exchange(true); }

void releaseVirtualPort(VirtualPortFlag& flag) {
  if (flag) flag->store(false);
  flag.reset();
}

}  // namespace

// ---- input ----------------------------------------------------------------

RtMidiInPort::RtMidiInPort(MidiInputHandler& handler) : handler_(handler) {}

RtMidiInPort::~RtMidiInPort() {
  static_cast<void>(close());  // NotOpen when its owner closed it already
  releaseVirtualPort(virtualFlag_);
}

MidiError RtMidiInPort::open(const PortPlace& place, std::string& detail) {
  if (!takeVirtualPort(place.virtualFlag)) return MidiError::Allocated;
  virtualFlag_ = place.virtualFlag;
  if (const MidiError r = createBackend(place.clientName, errors_, backend_, detail); failed(r)) return r;
  try {
    // Every message is forwarded: SysEx, timing clock and active sensing too.
    backend_->ignoreTypes(false, false, false);
    backend_->setCallback(&RtMidiInPort::onMessage, this);
  } catch (const std::exception& e) {
    detail = e.what();
    return MidiError::ServiceError;
  }
  if (const MidiError r = openBackendPort(*backend_, errors_, place.fullName, place.portName, detail); failed(r)) {
    backend_.reset();
    return r;
  }
  errors_.ignoreFurther();
  state_.store(kOpen);
  return MidiError::Ok;
}

void RtMidiInPort::onMessage(double, std::vector<unsigned char>* message, void* self) {
  auto& port = *static_cast<RtMidiInPort*>(self);
  const std::int64_t now = monotonicMicros();
  // Counted before the state is read, so that stop() and close(), which change the
  // state first and then wait for the count to drop, never miss a delivery.
  port.inCallback_.fetch_add(1);
  // RtMidi hands over a SysEx whole, however many events ALSA took for it.
  if (port.state_.load() == kStarted && message != nullptr && !message->empty() &&
      (message->size() <= 3 || message->front() == 0xF0)) {
    tDelivering = &port;
    if (message->size() <= kMaxMessageBytes) {
      port.handler_.onMidiMessage(MidiEventView(*message), now);
    } else {
      port.dropped_.fetch_add(1, std::memory_order_relaxed);
      port.handler_.onMidiDropped();
    }
    tDelivering = nullptr;
  }
  port.inCallback_.fetch_sub(1);
}

// A callback in progress is short (it sends one datagram and perhaps one message),
// so yielding until it is over costs the window's thread next to nothing.
void RtMidiInPort::waitForCallbacks() const {
  const int own = tDelivering == this ? 1 : 0;
  while (inCallback_.load() > own) std::this_thread::yield();
}

MidiError RtMidiInPort::start() {
  const int state = state_.load();
  if (state == kClosed) return MidiError::NotOpen;
  state_.store(kStarted);
  return MidiError::Ok;
}

MidiError RtMidiInPort::stop() {
  if (state_.load() == kClosed) return MidiError::NotOpen;
  state_.store(kOpen);
  waitForCallbacks();
  return MidiError::Ok;
}

MidiError RtMidiInPort::close() {
  if (state_.load() == kClosed) return MidiError::NotOpen;
  // The backend joins its own thread on close: from inside our callback that
  // would never return.
  if (tDelivering == this) return MidiError::ServiceError;
  state_.store(kClosed);
  waitForCallbacks();
  // Destroying the RtMidi object unregisters the port and joins ALSA's input
  // thread, so nothing calls back later.
  backend_.reset();
  releaseVirtualPort(virtualFlag_);
  return MidiError::Ok;
}

// ---- output ---------------------------------------------------------------

RtMidiOutPort::~RtMidiOutPort() {
  static_cast<void>(close());  // NotOpen when its owner closed it already
  releaseVirtualPort(virtualFlag_);
}

MidiError RtMidiOutPort::open(const PortPlace& place, std::string& detail) {
  if (!takeVirtualPort(place.virtualFlag)) return MidiError::Allocated;
  virtualFlag_ = place.virtualFlag;
  if (const MidiError r = createBackend(place.clientName, errors_, backend_, detail); failed(r)) return r;
  if (const MidiError r = openBackendPort(*backend_, errors_, place.fullName, place.portName, detail); failed(r)) {
    backend_.reset();
    return r;
  }
  errors_.clear();
  open_.store(true);
  return MidiError::Ok;
}

// Any thread: the MIDI thread plays thru, the window's thread plays received
// datagrams, and an RtMidiOut must not be entered by two senders at once. Instead
// of a lock, each sender parks its word in a lock-free queue and then sends every
// parked word itself if no other thread is sending; if one is, that thread sends
// it. So no sender ever waits for another - in particular the input thread never
// spins on a window thread that may not get the CPU.
MidiError RtMidiOutPort::send(MidiEventView message) {
  if (!open_.load()) return MidiError::NotOpen;
  if (!message.wellFormed()) return MidiError::InvalidMessage;
  std::uint64_t word = 0;
  if (message.isSysEx()) {
    ChunkStore::Index first = 0;
    if (message.size() > 0xFFFFFFFFu || !long_.store(message.bytes(), first)) return MidiError::NotReady;
    word = 0xF0 | std::uint64_t(message.size()) << 8 | std::uint64_t(first) << 40;
  } else {
    for (std::size_t k = 0; k < message.size(); ++k) word |= std::uint64_t(message.bytes()[k]) << (8 * k);
  }
  if (!pending_.push(word)) {
    if (message.isSysEx()) long_.release(ChunkStore::Index(word >> 40), message.size());
    return MidiError::NotReady;
  }
  MidiError result = MidiError::Ok;
  for (;;) {
    // All sequentially consistent with the queue's push() and ready(): either the
    // thread letting go sees our word, or we see that it has let go and take over.
    if (sending_.test_and_set(std::memory_order_seq_cst)) return result;
    if (const MidiError r = sendPending(); failed(r)) result = r;
    sending_.clear(std::memory_order_seq_cst);
    if (!pending_.ready()) return result;
  }
}

// Only the holder of sending_. Sends in the order the words were parked.
MidiError RtMidiOutPort::sendPending() {
  MidiError result = MidiError::Ok;
  std::uint64_t word = 0;
  while (pending_.pop(word)) {
    std::span<const std::uint8_t> bytes;
    std::array<std::uint8_t, 3> shortBytes{std::uint8_t(word), std::uint8_t(word >> 8), std::uint8_t(word >> 16)};
    if (std::uint8_t(word) == 0xF0) {
      const std::size_t size = std::size_t(word >> 8 & 0xFFFFFFFFu);
      const auto first = ChunkStore::Index(word >> 40);
      scratch_.resize(size);
      long_.read(first, 0, scratch_);
      long_.release(first, size);
      bytes = scratch_;
    } else {
      bytes = std::span(shortBytes).first(std::size_t(shortMessageLength(shortBytes[0])));
    }
    if (const MidiError r = sendToBackend(bytes); failed(r)) result = r;
  }
  return result;
}

MidiError RtMidiOutPort::sendToBackend(std::span<const std::uint8_t> bytes) {
  if (!backend_) return MidiError::NotOpen;  // closed meanwhile: drop what raced with the close
  MidiError result = MidiError::Ok;
  try {
    backend_->sendMessage(bytes.data(), bytes.size());
  } catch (const std::exception&) {
    result = MidiError::ServiceError;
  }
  if (errors_.any()) {
    result = MidiError::ServiceError;
    errors_.clear();
  }
  return result;
}

MidiError RtMidiOutPort::close() {
  if (!open_.exchange(false)) return MidiError::NotOpen;
  // Take the send guard from whichever thread holds it, send what was accepted
  // before the close, then let go of the backend.
  while (sending_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
  static_cast<void>(sendPending());  // nobody is left to tell of a late failure
  backend_.reset();
  sending_.clear(std::memory_order_release);
  releaseVirtualPort(virtualFlag_);
  return MidiError::Ok;
}

}  // namespace strandlink::midi::alsa
