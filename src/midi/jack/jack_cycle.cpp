#include "midi/jack/jack_cycle.h"

#include <jack/midiport.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "midi/short_message.h"

namespace strandlink::midi::jack {

namespace {

// Set on the real-time thread while a cycle hands messages to the handler: a send
// from inside the handler (thru) then goes straight into this cycle's buffer.
struct CycleContext {
  const JackCycle* cycle;
  void* outBuffer;
  jack_nframes_t frame;  // the captured message's frame; thru plays at the same one
};
thread_local CycleContext* tCycle = nullptr;

std::uint32_t packWord(const ShortMessage& m) {
  return std::uint32_t(m.bytes[0]) | std::uint32_t(m.bytes[1]) << 8 | std::uint32_t(m.bytes[2]) << 16;
}

std::int64_t monotonicMicros() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

bool writeWord(void* buffer, jack_nframes_t frame, std::uint32_t word) {
  const auto m = ShortMessage::withStatusSize(std::uint8_t(word), std::uint8_t(word >> 8), std::uint8_t(word >> 16));
  const auto bytes = m.wireBytes();
  return jack_midi_event_write(buffer, frame, bytes.data(), bytes.size()) == 0;
}

}  // namespace

void JackCycle::process(jack_client_t* client, jack_port_t* in, jack_port_t* out, jack_nframes_t frames) {
  void* outBuffer = jack_port_get_buffer(out, frames);
  jack_midi_clear_buffer(outBuffer);
  playQueued(outBuffer);
  // Counted before the switch is read, so that stop and close, which turn the
  // switch off first and then wait for the count to drop, never miss a call.
  inHandler_.fetch_add(1);
  if (delivering_.load()) deliverCaptured(client, jack_port_get_buffer(in, frames), outBuffer);
  inHandler_.fetch_sub(1);
}

// Queued messages go out at the cycle's first frame, in the order they were queued;
// what a full buffer cannot take waits for the next cycle, still first.
void JackCycle::playQueued(void* buffer) {
  std::uint64_t written = 0;
  std::uint32_t word = carried_.load(std::memory_order_relaxed);
  if (word != 0 || queue_.pop(word)) {
    do {
      if (!writeWord(buffer, 0, word)) break;
      ++written;
      word = 0;
    } while (queue_.pop(word));
  }
  carried_.store(word, std::memory_order_relaxed);
  if (written != 0) played_.fetch_add(written);
}

void JackCycle::deliverCaptured(jack_client_t* client, void* inBuffer, void* outBuffer) {
  MidiInputHandler* handler = handler_.load();
  if (handler == nullptr) return;
  const jack_nframes_t cycleStart = jack_last_frame_time(client);
  const jack_nframes_t count = jack_midi_get_event_count(inBuffer);
  if (count == 0) return;
  // libjack's clock is CLOCK_MONOTONIC_RAW here (jackd2 1.9.21), the handler's is
  // CLOCK_MONOTONIC; NTP slews only the latter, so they drift apart (a quarter of
  // a second after half an hour on a virtual machine). The offset is taken anew
  // each cycle; both reads are vDSO calls that never block.
  const std::int64_t toMonotonic = monotonicMicros() - std::int64_t(jack_get_time());
  CycleContext context{this, outBuffer, 0};
  tCycle = &context;
  for (jack_nframes_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, inBuffer, i) != 0) continue;
    // SysEx stays out: a short-message bridge cannot carry it.
    if (event.size == 0 || event.size > 3 || shortMessageLength(event.buffer[0]) == 0) continue;
    // Events come in frame order, and so do the thru messages written at their frames.
    context.frame = event.time;
    const auto time = std::int64_t(jack_frames_to_time(client, cycleStart + event.time)) + toMonotonic;
    handler->onMidiMessage(ShortMessage::fromBytes({event.buffer, event.size}), time);
  }
  tCycle = nullptr;
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

bool JackCycle::insideHandler() const { return tCycle != nullptr && tCycle->cycle == this; }

bool JackCycle::takeOutput() {
  if (outputTaken_.exchange(true)) return false;
  playing_.store(true);
  return true;
}

void JackCycle::releaseOutput() {
  playing_.store(false);
  // Notes released at Stop must sound before the connection goes.
  const std::uint64_t target = queued_.load();
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (!insideHandler() && serving() && played_.load() < target && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  outputTaken_.store(false);
}

int JackCycle::send(const ShortMessage& message) {
  if (!playing_.load()) return kMidiNotOpen;
  if (!message.playable()) return kMidiInvalidMessage;
  if (!serving()) return kMidiNotReady;
  if (insideHandler()) {
    const auto bytes = message.wireBytes();
    return jack_midi_event_write(tCycle->outBuffer, tCycle->frame, bytes.data(), bytes.size()) == 0 ? kMidiOk
                                                                                                     : kMidiNotReady;
  }
  if (!queue_.push(packWord(message))) return kMidiNotReady;
  queued_.fetch_add(1);
  return kMidiOk;
}

void JackCycle::dropQueued() {
  std::uint32_t word = 0;
  std::uint64_t dropped = carried_.exchange(0) != 0 ? 1 : 0;
  while (queue_.pop(word)) ++dropped;
  played_.fetch_add(dropped);
}

}  // namespace strandlink::midi::jack
