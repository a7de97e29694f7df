// What our JACK client does in each process cycle, and the state that cycle shares
// with the other threads: the handler of the open input and the queue of the open
// output. It outlives every client the service makes (a server that comes back
// gets a new client), so a process callback never meets freed memory.
//
// The process callback never allocates or locks: everything it shares is an
// atomic or a lock-free queue, a SysEx is put together by the stream parser in
// storage it made once, and one to be played waits in chunks made once
// (ChunkStore). It does call the input's handler, which does what its own header says (the bridge hands the
// message to the peer protocol's send(): for classic one sendto, and perhaps an
// eventfd write to wake the loop, both bounded and non-blocking; a protocol that
// needs more queues the message and does the rest on a thread of its own).
#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>

#include "midi/chunk_store.h"
#include "midi/midi_service.h"
#include "midi/midi_stream_parser.h"
#include "midi/word_queue.h"

namespace strandlink::midi::jack {

class JackCycle {
 public:
  // One process cycle as its parts see it (defined where the cycle runs).
  struct Cycle;

  JackCycle();

  // Real-time thread, once a cycle: hands each captured message to the input's
  // handler and writes what was queued for the output, each message at the frame
  // that holds its moment, in frame order with the thru written meanwhile. A
  // SysEx goes out as one event when the buffer has room for it, in a later cycle
  // when only an empty buffer has, and in consecutive pieces over consecutive
  // cycles (F0 in the first, F7 in the last) when not even that has; what was sent
  // after it follows as soon as its last piece is out.
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
  // Any thread. Events the input dropped: a SysEx too long or broken off, and
  // events that make no whole message (too short for their status, a data byte of
  // 0x80 or more).
  std::uint64_t droppedMessages() const { return dropped_.load(std::memory_order_relaxed); }

  // ---- output --------------------------------------------------------------------
  // A send without a moment: as soon as the messages queued before it allow.
  static constexpr std::int64_t kAtOnce = std::numeric_limits<std::int64_t>::min();

  // Window thread. Takes the output; false when another open output has it.
  bool takeOutput();
  // Window thread. Refuses further sends, plays what waits for a later moment at
  // once, and returns once what was accepted has been written into a cycle (or the
  // server is gone, or half a second passed).
  void releaseOutput();
  // Any thread. On the real-time thread, inside the handler (thru), the message is
  // written into this cycle at the captured message's frame; from any other thread
  // it waits in the queue for the cycle that holds playMicros (monotonic µs), or for
  // the next cycle (kAtOnce, or a moment already begun). MidiError::NotReady when it
  // cannot be taken.
  // A SysEx on the real-time thread too is written at once only when nothing
  // waits before it and the buffer has room for all of it; otherwise it is queued.
  MidiError send(MidiEventView message, std::int64_t playMicros = kAtOnce);
  // The period of the last cycle, in µs of the monotonic clock (0 before the first).
  std::int64_t periodMicros() const { return periodMicros_.load(std::memory_order_relaxed); }
  // Window thread, while no client runs: forgets what a lost server never played.
  void dropQueued();

 private:
  struct Timed {
    std::uint32_t word = 0;  // a packed short message, or 0xF0 for a stored SysEx; 0 is none
    std::int64_t micros = kAtOnce;
    std::uint32_t length = 0;  // a SysEx's bytes, kept in chunks from first
    ChunkStore::Index first = 0;
  };
  void deliverCaptured(Cycle& cycle, void* inBuffer);
  // One event of the input: delivered, added to the SysEx being put together, or
  // dropped and counted.
  void capture(Cycle& cycle, MidiInputHandler& handler, const jack_midi_event_t& event);
  void playQueued(Cycle& cycle, jack_nframes_t end);
  bool nextQueued(Timed& item);
  void hold(const Timed& item);
  // Writes the SysEx, or its next piece; true once its last byte is written.
  bool writeLong(Cycle& cycle, jack_nframes_t frame, const Timed& item);
  bool placeInCycle(const Cycle& cycle, std::int64_t micros, jack_nframes_t& frame) const;
  MidiError queue(const Timed& item);

  std::atomic<bool> serving_{false};

  std::atomic<MidiInputHandler*> handler_{nullptr};
  std::atomic<bool> delivering_{false};
  std::atomic<int> inHandler_{0};

  std::atomic<bool> outputTaken_{false};
  std::atomic<bool> playing_{false};
  // Set while the output is released: nothing waits for its moment any more.
  std::atomic<bool> flushing_{false};
  std::atomic<std::int64_t> periodMicros_{0};
  // Several seconds of a full MIDI cable, should the real-time thread miss cycles,
  // and a second of a busy network link held back by a long delay.
  WordQueue<16384, Timed> queue_;
  std::atomic<std::uint64_t> queued_{0};
  std::atomic<std::uint64_t> played_{0};
  // The queued message taken out that belongs to a later cycle, or that a full
  // port buffer could not take; first in the next cycle. Real-time thread only
  // (atomic because a new client brings a new thread).
  std::atomic<std::uint32_t> heldWord_{0};
  std::atomic<std::int64_t> heldMicros_{kAtOnce};
  std::atomic<std::uint32_t> heldLength_{0};
  std::atomic<ChunkStore::Index> heldFirst_{0};
  std::atomic<std::uint32_t> heldSent_{0};  // of a SysEx going out in pieces
  // SysEx queued and not yet fully written: until none is left, the thru queues
  // too instead of writing straight into the cycle, so that nothing overtakes one.
  std::atomic<int> longPending_{0};
  ChunkStore chunks_;
  // A SysEx piece: the one being written, or one read from the input (real-time thread).
  std::unique_ptr<std::uint8_t[]> piece_;

  // The input's events as one byte stream (real-time thread only; a new client's
  // thread starts after the old one was joined).
  MidiStreamParser parser_{kMaxMessageBytes};
  std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace strandlink::midi::jack
