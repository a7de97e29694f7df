#include "midi/jack/jack_cycle.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <span>
#include <thread>

#include "base/monotonic_clock.h"
#include "midi/short_message.h"

namespace strandlink::midi::jack {

// One process cycle as its parts see it.
struct JackCycle::Cycle {
  jack_client_t* client;
  void* outBuffer;
  jack_nframes_t start;   // the cycle's first frame
  jack_nframes_t frames;  // its length
  jack_nframes_t sampleRate;
  // Monotonic µs minus libjack's µs, taken anew each cycle: libjack's clock is
  // CLOCK_MONOTONIC_RAW here (jackd2 1.9.21), ours CLOCK_MONOTONIC; NTP slews only
  // the latter, so they drift apart (a quarter of a second after half an hour on
  // a virtual machine). Both reads are vDSO calls that never block.
  std::int64_t toMonotonic;
  std::size_t emptyRoom = 0;       // the longest event an empty output buffer takes
  jack_nframes_t frame = 0;        // the captured message's frame; thru plays at the same one
  std::int64_t captureMicros = 0;  // its moment on the monotonic clock
  jack_nframes_t lastFrame = 0;    // the port takes events in frame order only
  const JackCycle* owner = nullptr;
};

namespace {

// Set on the real-time thread while a cycle hands messages to the handler: a send
// from inside the handler (thru) then goes straight into this cycle's buffer.
thread_local JackCycle::Cycle* tCycle = nullptr;

// A moment further ahead than this is no delay a user chose but a clock that jumped.
constexpr std::int64_t kFarAheadSeconds = 5;

// The status byte of a queued item that is a SysEx kept in chunks.
constexpr std::uint32_t kLongWord = 0xF0;

std::uint32_t packWord(std::span<const std::uint8_t> m) {
  std::uint32_t word = 0;
  for (std::size_t k = 0; k < m.size() && k < 3; ++k) word |= std::uint32_t(m[k]) << (8 * k);
  return word;
}

// At the frame asked for, or after the last event written when that is later.
bool writeBytes(JackCycle::Cycle& cycle, jack_nframes_t frame, std::span<const std::uint8_t> bytes) {
  frame = std::max(frame, cycle.lastFrame);
  if (jack_midi_event_write(cycle.outBuffer, frame, bytes.data(), bytes.size()) != 0) return false;
  cycle.lastFrame = frame;
  return true;
}

bool writeWord(JackCycle::Cycle& cycle, jack_nframes_t frame, std::uint32_t word) {
  const auto m = ShortMessage::withStatusSize(std::uint8_t(word), std::uint8_t(word >> 8), std::uint8_t(word >> 16));
  return writeBytes(cycle, frame, m.wireBytes());
}

}  // namespace

JackCycle::JackCycle() : piece_(std::make_unique<std::uint8_t[]>(kMaxMessageBytes)) {}

void JackCycle::process(jack_client_t* client, jack_port_t* in, jack_port_t* out, jack_nframes_t frames) {
  const jack_nframes_t rate = jack_get_sample_rate(client);
  Cycle cycle{client,
              jack_port_get_buffer(out, frames),
              jack_last_frame_time(client),
              frames,
              rate,
              monotonicMicros() - std::int64_t(jack_get_time())};
  cycle.owner = this;
  jack_midi_clear_buffer(cycle.outBuffer);
  cycle.emptyRoom = jack_midi_max_event_size(cycle.outBuffer);
  if (rate != 0) periodMicros_.store(std::int64_t(frames) * 1000000 / rate, std::memory_order_relaxed);
  // Counted before the switch is read, so that stop and close, which turn the
  // switch off first and then wait for the count to drop, never miss a call.
  inHandler_.fetch_add(1);
  if (delivering_.load()) deliverCaptured(cycle, jack_port_get_buffer(in, frames));
  else parser_.reset();  // what was played while stopped is not put together later
  inHandler_.fetch_sub(1);
  playQueued(cycle, frames);
}

// The queued messages whose frames come before end, in the order they were queued;
// a message of a later cycle, and what a full buffer cannot take, wait for the
// next cycle, still first.
void JackCycle::playQueued(Cycle& cycle, jack_nframes_t end) {
  std::uint64_t written = 0;
  Timed item;
  while (nextQueued(item)) {
    jack_nframes_t frame = 0;
    const bool placed = placeInCycle(cycle, item.micros, frame) && frame < end;
    const bool isLong = item.word == kLongWord;
    if (!placed || !(isLong ? writeLong(cycle, frame, item) : writeWord(cycle, frame, item.word))) {
      hold(item);
      break;
    }
    heldWord_.store(0, std::memory_order_relaxed);
    if (isLong) {
      heldSent_.store(0, std::memory_order_relaxed);
      chunks_.release(item.first, item.length);
      longPending_.fetch_sub(1);
    }
    ++written;
  }
  if (written != 0) played_.fetch_add(written);
}

bool JackCycle::nextQueued(Timed& item) {
  item.word = heldWord_.load(std::memory_order_relaxed);
  if (item.word == 0) return queue_.pop(item);
  item.micros = heldMicros_.load(std::memory_order_relaxed);
  item.length = heldLength_.load(std::memory_order_relaxed);
  item.first = heldFirst_.load(std::memory_order_relaxed);
  return true;
}

void JackCycle::hold(const Timed& item) {
  heldMicros_.store(item.micros, std::memory_order_relaxed);
  heldLength_.store(item.length, std::memory_order_relaxed);
  heldFirst_.store(item.first, std::memory_order_relaxed);
  heldWord_.store(item.word, std::memory_order_relaxed);
}

// A receiver takes a SysEx most easily whole, so it waits a cycle for an empty
// buffer when that would hold it; only one longer than that goes in pieces, each
// as long as the buffer takes, so that it is out in as few cycles as can be.
bool JackCycle::writeLong(Cycle& cycle, jack_nframes_t frame, const Timed& item) {
  const std::size_t sent = heldSent_.load(std::memory_order_relaxed);
  const std::size_t room = jack_midi_max_event_size(cycle.outBuffer);
  if (sent == 0 && item.length > room && item.length <= cycle.emptyRoom) return false;
  const std::size_t n = std::min({std::size_t(item.length) - sent, room, kMaxMessageBytes});
  if (n == 0) return false;
  // Gathered first and written by libjack, like every other event.
  chunks_.read(item.first, sent, {piece_.get(), n});
  if (!writeBytes(cycle, frame, {piece_.get(), n})) return false;
  heldSent_.store(std::uint32_t(sent + n), std::memory_order_relaxed);
  return sent + n == item.length;
}

// The frame of this cycle that holds the moment: false when it belongs to a later
// cycle. A moment already past (late), a message without one and a moment too far
// ahead to be meant take the cycle's first frame.
bool JackCycle::placeInCycle(const Cycle& cycle, std::int64_t micros, jack_nframes_t& frame) const {
  frame = 0;
  const std::int64_t jackMicros = micros - cycle.toMonotonic;
  if (micros == kAtOnce || jackMicros <= 0 || flushing_.load(std::memory_order_relaxed)) return true;
  const jack_nframes_t at = jack_time_to_frames(cycle.client, jack_time_t(jackMicros));
  const auto ahead = std::int64_t(std::int32_t(at - cycle.start));
  if (ahead < 0 || ahead > kFarAheadSeconds * std::int64_t(cycle.sampleRate)) return true;
  if (ahead >= std::int64_t(cycle.frames)) return false;
  frame = jack_nframes_t(ahead);
  return true;
}

void JackCycle::deliverCaptured(Cycle& cycle, void* inBuffer) {
  MidiInputHandler* handler = handler_.load();
  if (handler == nullptr) return;
  const jack_nframes_t count = jack_midi_get_event_count(inBuffer);
  if (count == 0) return;
  tCycle = &cycle;
  for (jack_nframes_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, inBuffer, i) != 0 || event.size == 0) continue;
    // Events come in frame order; what was queued for the frames up to this one goes
    // first, so that the thru written at the event's frame keeps the port in order.
    playQueued(cycle, event.time + 1);
    cycle.frame = event.time;
    cycle.captureMicros = std::int64_t(jack_frames_to_time(cycle.client, cycle.start + event.time)) + cycle.toMonotonic;
    capture(cycle, *handler, event);
  }
  tCycle = nullptr;
}

// Each event holds one whole message, except that another program may send a
// SysEx in pieces over several events and cycles (F0 in the first, F7 in the
// last), with real-time bytes between them; any other message ends an unfinished
// one. An event that is not so is dropped and counted once.
void JackCycle::capture(Cycle& cycle, MidiInputHandler& handler, const jack_midi_event_t& event) {
  const std::uint64_t droppedBefore = parser_.counters().dropped();
  // Copied out of JACK's shared buffer in bulk before it is looked at byte by
  // byte: a sanitizer build checks each read of shared memory at great cost.
  for (std::size_t from = 0; from < event.size; from += kMaxMessageBytes) {
    const std::size_t n = std::min(event.size - from, kMaxMessageBytes);
    std::memcpy(piece_.get(), event.buffer + from, n);
    parser_.feed({piece_.get(), n}, [&](std::span<const std::uint8_t> message) {
      handler.onMidiMessage(MidiEventView(message), cycle.captureMicros);
    });
  }
  parser_.endEvent();
  if (parser_.counters().dropped() == droppedBefore) return;
  dropped_.fetch_add(1, std::memory_order_relaxed);
  handler.onMidiDropped();
}

bool JackCycle::attach(MidiInputHandler& handler) {
  MidiInputHandler* none = nullptr;
  return handler_.compare_exchange_strong(none, &handler);
}

void JackCycle::detach() {
  setDelivering(false);
  handler_.store(nullptr);
}

void JackCycle::setDelivering(bool on) {
  delivering_.store(on);
  if (!on) waitForHandler();
}

// A handler call is short (a datagram, perhaps a thru message), so yielding until
// it is over costs the window's thread next to nothing.
void JackCycle::waitForHandler() const {
  const int own = insideHandler() ? 1 : 0;
  while (inHandler_.load() > own) std::this_thread::yield();
}

bool JackCycle::insideHandler() const { return tCycle != nullptr && tCycle->owner == this; }

bool JackCycle::takeOutput() {
  if (outputTaken_.exchange(true)) return false;
  flushing_.store(false);
  playing_.store(true);
  return true;
}

void JackCycle::releaseOutput() {
  playing_.store(false);
  flushing_.store(true);
  // Notes released at Stop must sound before the connection goes.
  const std::uint64_t target = queued_.load();
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (!insideHandler() && serving() && played_.load() < target && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  outputTaken_.store(false);
}

MidiError JackCycle::send(MidiEventView message, std::int64_t playMicros) {
  if (!playing_.load()) return MidiError::NotOpen;
  if (!message.wellFormed()) return MidiError::InvalidMessage;
  if (!serving()) return MidiError::NotReady;
  const bool direct = insideHandler() && longPending_.load() == 0;
  if (!message.isSysEx()) {
    if (direct) return writeBytes(*tCycle, tCycle->frame, message.bytes()) ? MidiError::Ok : MidiError::NotReady;
    return queue(Timed{packWord(message.bytes()), playMicros});
  }
  if (direct && message.size() <= jack_midi_max_event_size(tCycle->outBuffer) &&
      writeBytes(*tCycle, tCycle->frame, message.bytes()))
    return MidiError::Ok;
  // Allocation-free on every thread: the bytes go into chunks made once.
  Timed item{kLongWord, playMicros, std::uint32_t(message.size()), 0};
  if (message.size() > std::numeric_limits<std::uint32_t>::max() || !chunks_.store(message.bytes(), item.first))
    return MidiError::NotReady;
  longPending_.fetch_add(1);
  if (const MidiError r = queue(item); failed(r)) {
    longPending_.fetch_sub(1);
    chunks_.release(item.first, item.length);
    return r;
  }
  return MidiError::Ok;
}

MidiError JackCycle::queue(const Timed& item) {
  if (!queue_.push(item)) return MidiError::NotReady;
  queued_.fetch_add(1);
  return MidiError::Ok;
}

void JackCycle::dropQueued() {
  std::uint64_t dropped = 0;
  const auto forget = [&](const Timed& item) {
    if (item.word == kLongWord) {
      chunks_.release(item.first, item.length);
      longPending_.fetch_sub(1);
    }
    ++dropped;
  };
  Timed item;
  if (heldWord_.load() != 0 && nextQueued(item)) forget(item);
  heldWord_.store(0);
  heldSent_.store(0);
  while (queue_.pop(item)) forget(item);
  played_.fetch_add(dropped);
}

}  // namespace strandlink::midi::jack
