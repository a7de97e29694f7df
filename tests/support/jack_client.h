// Plain JACK clients for tests: a "keyboard" that plays raw MIDI messages into the
// graph and a "synth" that records every raw message it receives, plus helpers to
// list and connect ports. They talk to the server JACK_DEFAULT_SERVER names and
// never start one.
#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace strandlink::test {

using MidiBytes = std::vector<std::uint8_t>;

// Whether a JACK server answers; why not, when it does not.
bool jackServerRunning(std::string* why = nullptr);

// A message queue between one producer thread and one consumer thread, without
// locks, so that JACK's real-time thread never waits on the test's thread.
class MidiRing {
 public:
  static constexpr std::size_t kCapacity = 4096;
  static constexpr std::size_t kMaxBytes = 15;  // longer messages are cut
  // frame: a number that travels with the message (a frame, or a gap in frames).
  // micros: a moment that travels with it.
  bool push(const std::uint8_t* bytes, std::size_t size, std::uint32_t frame = 0, std::int64_t micros = 0);
  bool pop(MidiBytes& out, std::uint32_t* frame = nullptr, std::int64_t* micros = nullptr);

 private:
  struct Slot {
    std::uint8_t size = 0;
    std::array<std::uint8_t, kMaxBytes> bytes{};
    std::uint32_t frame = 0;
    std::int64_t micros = 0;
  };
  std::array<Slot, kCapacity> slots_;
  std::atomic<std::size_t> head_{0};  // next to pop
  std::atomic<std::size_t> tail_{0};  // next to push
};

class JackClient {
 public:
  // Opens and activates a client; ok() says whether that worked.
  explicit JackClient(const std::string& name);
  virtual ~JackClient();
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  bool ok() const { return client_ != nullptr && active_; }
  // Where JACK's frame clock stands now.
  std::uint32_t frameNow() const { return client_ != nullptr ? jack_frame_time(client_) : 0; }
  // Frames in one process cycle, and how long one lasts.
  std::uint32_t periodFrames() const { return client_ != nullptr ? jack_get_buffer_size(client_) : 0; }
  std::int64_t periodMicros() const {
    return client_ != nullptr ? std::int64_t(periodFrames()) * 1000000 / jack_get_sample_rate(client_) : 0;
  }
  // Full names of the MIDI ports matching the regular expression, with all of the
  // given flags (JackPortIsInput: ports that receive, JackPortIsOutput: ports that send).
  std::vector<std::string> midiPorts(const std::string& pattern, unsigned long flags) const;
  // Returns once the connection carries data: JACK switches to a changed graph
  // only at the start of a cycle.
  bool connect(const std::string& source, const std::string& destination);
  // Whether the two ports are connected.
  bool connected(const std::string& source, const std::string& destination) const;
  // Waits for this client's next `count` process cycles; after a connection made by
  // another client (say, a port opened on a listed device), two cycles make sure
  // it is in use.
  bool waitCycles(int count, std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;

 protected:
  // Real-time thread, once per cycle.
  virtual void process(jack_nframes_t) {}
  jack_client_t* client() const { return client_; }
  // Real-time thread: a frame of this cycle as a moment in µs of the monotonic
  // clock, on JACK's estimate of the cycle's time, as a client reading it stamps it
  // (one offset between the two clocks for the whole cycle).
  std::int64_t momentOf(jack_nframes_t frame) const;
  // Registers a MIDI port; to be called by a subclass's constructor, before activate().
  jack_port_t* registerPort(const std::string& shortName, unsigned long flags);
  void activate();
  // Stops the process calls; a subclass's destructor calls it before its members go.
  void deactivate();

 private:
  static int onProcess(jack_nframes_t frames, void* self);
  jack_client_t* client_ = nullptr;
  bool active_ = false;
  std::atomic<std::uint64_t> cycles_{0};
  std::int64_t toMonotonic_ = 0;  // real-time thread only: this cycle's JACK-to-monotonic offset
};

// One MIDI output port "out"; plays queued messages in order.
class JackKeyboard final : public JackClient {
 public:
  explicit JackKeyboard(const std::string& name = "keyboard");
  ~JackKeyboard() override;

  std::string port() const;  // full name
  // Queues messages to play, perCycle of them in each process cycle (at least 1).
  // False when the queue cannot take them all.
  bool play(const std::vector<MidiBytes>& messages, int perCycle = 1);
  // Queues messages to play at exact frames: message k gaps[k] frames after message
  // k-1 (the first gaps[0] frames into the cycle that takes it up).
  bool playSpaced(const std::vector<MidiBytes>& messages, const std::vector<std::uint32_t>& gaps);
  // The first frame of the cycle that took up the last spaced pattern: message k
  // was played gaps[0] + ... + gaps[k] frames after it.
  std::uint32_t patternStart() const { return patternStart_.load(); }
  // The moment each message of the last spaced pattern was played, on JACK's
  // clock in µs of the monotonic clock, as a receiving client stamps it.
  std::vector<std::int64_t> playedTimes();
  // Waits until every queued message has been written to the port.
  bool waitUntilPlayed(std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;

 private:
  void process(jack_nframes_t frames) override;
  jack_port_t* port_ = nullptr;
  MidiRing queue_;
  std::atomic<int> perCycle_{1};
  std::atomic<std::size_t> queued_{0};
  std::atomic<std::size_t> played_{0};
  std::atomic<std::uint32_t> patternStart_{0};
  void write(void* buffer, jack_nframes_t offset);
  MidiRing playedRing_;  // spaced messages' moments, from the real-time thread
  std::vector<std::int64_t> playedTimes_;
  // Real-time thread only: the spaced message taken up and the frame it is due at.
  MidiBytes due_;
  std::uint32_t dueFrame_ = 0;
  bool holding_ = false;
};

// One MIDI input port "in"; records every message that arrives.
class JackSynth final : public JackClient {
 public:
  explicit JackSynth(const std::string& name = "synth");
  ~JackSynth() override;

  std::string port() const;  // full name
  // Every message received so far, in order of arrival.
  std::vector<MidiBytes> received();
  // The frame (JACK's frame clock) at which each of them arrived.
  std::vector<std::uint32_t> frames();
  // The moment of each such frame on JACK's clock, in µs of the monotonic clock.
  std::vector<std::int64_t> times();
  // How many arrived so far, without copying them.
  std::size_t count();
  // Waits until at least count messages have arrived.
  bool waitFor(std::size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(10));
  void clear();
  // Whether a message was lost because the test did not collect in time.
  bool overflowed() const { return overflowed_.load(); }
  // Cycles since the last clear() that began more than a millisecond later than one
  // period after the cycle before: a stall of the machine that the dummy driver does
  // not make up, after which frames no longer measure the time that passed.
  int lateCycles() const { return lateCycles_.load(); }
  // The stretch of time each of those cycles may have disturbed, from before the
  // stall to after it, on JACK's clock in µs of the monotonic clock.
  std::vector<std::pair<std::int64_t, std::int64_t>> stalls();

 private:
  void process(jack_nframes_t frames) override;
  // Takes what the ring holds into the lists, under the lock it returns.
  std::unique_lock<std::mutex> collect();
  jack_port_t* port_ = nullptr;
  MidiRing ring_;
  std::atomic<bool> overflowed_{false};
  std::atomic<int> lateCycles_{0};
  std::int64_t lastCycleMicros_ = 0;  // real-time thread only
  std::mutex mutex_;  // the test's side only
  std::vector<MidiBytes> received_;
  std::vector<std::uint32_t> frames_;
  std::vector<std::int64_t> times_;
  MidiRing lateRing_;  // late cycles' beginnings and lateness, from the real-time thread
  std::vector<std::pair<std::int64_t, std::int64_t>> lateSpans_;
};

// A JACK server of the test's own, which it may kill; the process's JACK clients
// talk to it while it exists. Killed, it leaves its entry in JACK's registry of
// servers (eight at most) until a server of the same name starts, so one is
// started and stopped in order at the end if need be.
class KillableJack {
 public:
  explicit KillableJack(std::string name);
  ~KillableJack();
  KillableJack(const KillableJack&) = delete;
  KillableJack& operator=(const KillableJack&) = delete;
  // Starts jackd (dummy driver) and returns once it answers; false when it cannot.
  bool start();
  void stop(int signal);

 private:
  std::string name_, saved_;
  int pid_ = -1;
  bool killed_ = false;
};

// An output "out" that plays a script of messages, SysEx in pieces of a chosen size
// over consecutive cycles as some programs send it, and an input "in" that logs
// every event with its frame, however long (the keyboard and synth above keep
// fifteen bytes at most).
class JackSysExClient final : public JackClient {
 public:
  explicit JackSysExClient(const std::string& name = "sysex");
  ~JackSysExClient() override;

  std::string outPort() const;
  std::string inPort() const;
  // The longest event an empty buffer takes, and the frames of a cycle.
  std::size_t roomPerCycle() const { return room_.load(); }
  std::uint32_t period() const { return client() != nullptr ? jack_get_buffer_size(client()) : 0; }

  struct Step {
    MidiBytes bytes;
    std::size_t piece = 0;  // longest event; 0: the whole message at once
  };
  // Plays the steps from the next cycle on (one script at a time): short ones and
  // whole SysEx may share a cycle, each piece of a SysEx in pieces takes one.
  void play(std::vector<Step> steps);
  bool waitUntilPlayed(std::chrono::milliseconds deadline = std::chrono::seconds(20)) const;
  // The first frame of the cycle that wrote each step's last byte.
  std::vector<std::uint32_t> playedFrames() const { return playedFrames_; }

  struct Event {
    MidiBytes bytes;
    std::uint32_t frame = 0;
  };
  // Every event received so far, as JACK delivered it.
  std::vector<Event> events() const;
  // The last of them (nothing before the first), cheap enough to poll.
  MidiBytes lastEvent() const;
  bool overflowed() const { return overflowed_.load(); }

 private:
  void process(jack_nframes_t frames) override;
  void playSteps(void* buffer);
  // Copies an event out of JACK's shared buffer (see tests/sanitizers/tsan.supp).
  void logEvent(const jack_midi_event_t& event);
  jack_port_t* out_ = nullptr;
  jack_port_t* in_ = nullptr;
  std::atomic<std::size_t> room_{0};
  // The script: written by the test before playing_ is set, then the RT thread's.
  std::vector<Step> steps_;
  std::vector<std::uint32_t> playedFrames_;
  std::size_t step_ = 0, offset_ = 0;
  std::atomic<bool> playing_{false};
  std::atomic<bool> done_{false};
  // The log: bytes and events made once, published by the count.
  struct Logged {
    std::size_t offset = 0, size = 0;
    std::uint32_t frame = 0;
  };
  std::vector<std::uint8_t> bytes_;
  std::vector<Logged> logged_;
  std::size_t used_ = 0;
  std::atomic<std::size_t> count_{0};
  std::atomic<bool> overflowed_{false};
};

// Whole messages from events: a SysEx sent in pieces is one message, at the frame
// of its last piece.
std::vector<JackSysExClient::Event> wholeMessages(const std::vector<JackSysExClient::Event>& events);

// The entry of a full port name in a device list, or -1.
inline int entryOf(const std::vector<std::string>& list, const std::string& name) {
  for (std::size_t k = 0; k < list.size(); ++k)
    if (list[k] == name) return int(k);
  return -1;
}

// How many of the synth's messages so far have this status byte.
inline std::size_t countOf(JackSynth& synth, std::uint8_t status) {
  std::size_t n = 0;
  for (const MidiBytes& m : synth.received()) n += m[0] == status;
  return n;
}

// A client made again until the server takes it: a loaded server may refuse a
// new client (or its activation) for a while.
template <class Client>
std::unique_ptr<Client> madeWhenServed(const std::string& name,
                                       std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  auto client = std::make_unique<Client>(name);
  while (!client->ok() && std::chrono::steady_clock::now() < end) {
    client.reset();
    client = std::make_unique<Client>(name);
  }
  return client;
}

}  // namespace strandlink::test
