// What our JACK client does in each process cycle, and the state that cycle shares
// with the other threads: the handler of the open input and the queue of the open
// output. It outlives every client the service makes (a server that comes back
// gets a new client), so a process callback never meets freed memory.
//
// The process callback never blocks, allocates or locks: everything it shares is
// an atomic or the lock-free queue.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>

#include "midi/midi_service.h"
#include "midi/word_queue.h"

namespace strandlink::midi::jack {

class JackCycle {
 public:
  // Real-time thread, once a cycle: plays what was queued for the output, then
  // hands each captured message to the input's handler.
  void process(jack_client_t* client, jack_port_t* in, jack_port_t* out, jack_nframes_t frames);

  // Whether a client runs the cycles (set by the host; cleared when its server goes).
  void setServing(bool serving) { serving_.store(serving); }
  bool serving() const { return serving_.load(); }

  // ---- input, window thread -------------------------------------------------------
  // Takes the input for this handler; false when another open input has it.
  bool attach(MidiInputHandler& handler);
  // Gives the input back; the handler is called no more.
  void detach();
  void setDelivering(bool on);
  // Returns once no handler call runs, except this thread's own.
  void waitForHandler() const;
  // Whether this thread is inside our handler right now.
  bool insideHandler() const;

  // ---- output --------------------------------------------------------------------
  // Window thread. Takes the output; false when another open output has it.
  bool takeOutput();
  // Window thread. Refuses further sends and returns once what was accepted has
  // been written into a cycle (or the server is gone, or half a second passed).
  void releaseOutput();
  // Any thread. On the real-time thread, inside the handler (thru), the message is
  // written into this cycle at the captured message's frame; from any other thread
  // it waits in the queue for the next cycle. kMidiNotReady when it cannot be taken.
  int send(const ShortMessage& message);
  // Window thread, while no client runs: forgets what a lost server never played.
  void dropQueued();

 private:
  void playQueued(void* buffer);
  void deliverCaptured(jack_client_t* client, void* inBuffer, void* outBuffer);

  std::atomic<bool> serving_{false};

  std::atomic<MidiInputHandler*> handler_{nullptr};
  std::atomic<bool> delivering_{false};
  std::atomic<int> inHandler_{0};

  std::atomic<bool> outputTaken_{false};
  std::atomic<bool> playing_{false};
  // Several seconds of a full MIDI cable, should the real-time thread miss cycles.
  WordQueue<4096> queue_;
  std::atomic<std::uint64_t> queued_{0};
  std::atomic<std::uint64_t> played_{0};
  // A queued word a full port buffer could not take; first in the next cycle.
  // Real-time thread only (atomic because a new client brings a new thread).
  std::atomic<std::uint32_t> carried_{0};
};

}  // namespace strandlink::midi::jack
