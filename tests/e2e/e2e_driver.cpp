// The MIDI ends of the two-host test, one process per host, each against the JACK
// server that JACK_DEFAULT_SERVER names:
//
//   strandlink_e2e_driver play   --port REGEX --count N --rate R [--first K]
//   strandlink_e2e_driver record --port REGEX --count N [--first K] [--deadline-ms D]
//   strandlink_e2e_driver list   --count N [--first K]
//   strandlink_e2e_driver dump   --port REGEX --count N [--deadline-ms D]
//
// With --sysex S in place of --count, each mode plays, checks or lists one SysEx
// of S bytes instead (F0, data bytes counting up, F7).
//
// "play" connects a keyboard to the input port matching REGEX and plays messages
// K .. K+N-1 of a fixed sequence, R per second. "record" connects a synth to the
// output port matching REGEX, prints "ready", and checks that exactly messages
// K .. K+N-1 arrive, byte for byte and in order. Both know the sequence, so the
// two hosts need no channel besides the link under test. "list" prints those
// messages, one a line in hex, for a peer that plays or checks them off JACK;
// "dump" prints, in that form, what arrives, once N came or the deadline passed,
// for a peer whose loss and order are its own to judge.
//
// Exit status: 0 done (record: everything arrived), 1 a fault of the link
// (record: missing, extra, changed or reordered messages), 2 bad usage or no JACK.
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/jack_client.h"
#include "support/sysex_bytes.h"

using namespace strandlink::test;
using namespace std::chrono_literals;

namespace {

// Message i of the sequence: every kind of short MIDI message in turn, channels
// and data bytes varied so that a swapped, shifted or truncated byte shows.
MidiBytes sequenceMessage(std::uint64_t i) {
  static constexpr std::uint8_t kKinds[] = {0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0,  // channel
                                            0xF1, 0xF2, 0xF3, 0xF6,                    // common
                                            0xF8, 0xFA, 0xFB, 0xFC, 0xFE, 0xFF};       // real time
  constexpr std::uint64_t kKindCount = sizeof kKinds;
  const std::uint8_t kind = kKinds[i % kKindCount];
  const auto channel = static_cast<std::uint8_t>((i / kKindCount) % 16);
  const auto d1 = static_cast<std::uint8_t>((i * 37 + 11) % 128);
  const auto d2 = static_cast<std::uint8_t>((i * 91 + 5) % 128);
  if (kind < 0xC0 || kind == 0xE0) return {std::uint8_t(kind | channel), d1, d2};
  if (kind < 0xF0) return {std::uint8_t(kind | channel), d1};
  if (kind == 0xF2) return {kind, d1, d2};
  if (kind == 0xF1 || kind == 0xF3) return {kind, d1};
  return {kind};
}

std::string hex(const MidiBytes& m) {
  std::string s;
  char b[4];
  for (std::uint8_t byte : m) {
    std::snprintf(b, sizeof b, "%s%02X", s.empty() ? "" : " ", byte);
    s += b;
  }
  return s.empty() ? "(nothing)" : s;
}

// Plays the sequence by JACK's own clock: every cycle writes the messages that
// fell due since the last one, so the rate holds over the run whatever the period.
class PacedKeyboard final : public JackClient {
 public:
  // The messages are made before, not on the real-time thread, which must not allocate.
  PacedKeyboard(std::vector<MidiBytes> messages, double rate)
      : JackClient("e2e-keyboard"), count_(messages.size()), usPerMessage_(1e6 / rate), messages_(std::move(messages)) {
    port_ = registerPort("out", JackPortIsOutput);
    if (port_ != nullptr) activate();
  }
  ~PacedKeyboard() override { deactivate(); }

  std::string port() const { return port_ != nullptr ? jack_port_name(port_) : std::string(); }
  void start() { started_.store(true); }
  bool done() const { return played_.load() == count_; }

 private:
  // Real-time thread.
  void process(jack_nframes_t frames) override {
    void* buffer = jack_port_get_buffer(port_, frames);
    jack_midi_clear_buffer(buffer);
    if (!started_.load()) return;
    const jack_time_t now = jack_get_time();
    if (startUs_ == 0) startUs_ = now;
    std::uint64_t next = played_.load();
    jack_nframes_t offset = 0;
    while (next < count_ && double(now - startUs_) >= double(next) * usPerMessage_) {
      const MidiBytes& m = messages_[next];
      // A full port buffer keeps the rest for the next cycle, in order.
      if (jack_midi_event_write(buffer, offset, m.data(), m.size()) != 0) break;
      ++next;
      if (offset + 1 < frames) ++offset;
    }
    played_.store(next);
  }

  const std::uint64_t count_;
  const double usPerMessage_;
  std::vector<MidiBytes> messages_;
  jack_port_t* port_ = nullptr;
  std::atomic<bool> started_{false};
  jack_time_t startUs_ = 0;
  std::atomic<std::uint64_t> played_{0};
};

// Keeps the first SysEx that arrives, up to a size fixed beforehand.
class SysExCatcher final : public JackClient {
 public:
  explicit SysExCatcher(std::size_t capacity) : JackClient("e2e-sysex"), bytes_(capacity) {
    port_ = registerPort("in", JackPortIsInput);
    if (port_ != nullptr) activate();
  }
  ~SysExCatcher() override { deactivate(); }

  std::string port() const { return port_ != nullptr ? jack_port_name(port_) : std::string(); }
  // What arrived, once it did; a SysEx past the capacity gives only its first bytes.
  MidiBytes caught() const {
    const std::size_t size = size_.load();
    return MidiBytes(bytes_.begin(), bytes_.begin() + std::ptrdiff_t(std::min(size, bytes_.size())));
  }
  bool done() const { return size_.load() > 0; }

 private:
  // Real-time thread.
  void process(jack_nframes_t frames) override {
    void* buffer = jack_port_get_buffer(port_, frames);
    const std::uint32_t events = jack_midi_get_event_count(buffer);
    for (std::uint32_t k = 0; k < events && !done(); ++k) {
      jack_midi_event_t e;
      if (jack_midi_event_get(&e, buffer, k) != 0 || e.size == 0 || e.buffer[0] != 0xF0) continue;
      std::copy_n(e.buffer, std::min(e.size, bytes_.size()), bytes_.begin());
      size_.store(e.size);
    }
  }

  MidiBytes bytes_;
  jack_port_t* port_ = nullptr;
  std::atomic<std::size_t> size_{0};
};

struct Options {
  std::string mode, port;
  std::uint64_t first = 0, count = 0, sysex = 0;
  double rate = 1000;
  long deadlineMs = 0;
};

[[noreturn]] void usage(const char* why) {
  std::fprintf(stderr,
               "e2e driver: %s\n"
               "usage: strandlink_e2e_driver play --port REGEX --count N --rate R [--first K]\n"
               "       strandlink_e2e_driver record --port REGEX --count N [--first K] [--deadline-ms D]\n"
               "       strandlink_e2e_driver list --count N [--first K]\n"
               "       strandlink_e2e_driver dump --port REGEX --count N [--deadline-ms D]\n"
               "       (--sysex S in place of --count: one SysEx of S bytes)\n",
               why);
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options o;
  if (argc < 2) usage("no mode");
  o.mode = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) usage(("no value for " + a).c_str());
    const char* v = argv[++i];
    if (a == "--port") o.port = v;
    else if (a == "--count") o.count = std::strtoull(v, nullptr, 10);
    else if (a == "--first") o.first = std::strtoull(v, nullptr, 10);
    else if (a == "--rate") o.rate = std::strtod(v, nullptr);
    else if (a == "--deadline-ms") o.deadlineMs = std::strtol(v, nullptr, 10);
    else if (a == "--sysex") o.sysex = std::strtoull(v, nullptr, 10);
    else usage(("unknown option " + a).c_str());
  }
  if (o.mode != "play" && o.mode != "record" && o.mode != "list" && o.mode != "dump")
    usage("the mode is play, record, list or dump");
  if (o.sysex > 0) o.count = 1;
  if ((o.port.empty() && o.mode != "list") || o.count == 0) usage("--port and a --count above 0 are needed");
  if (!(o.rate > 0)) usage("--rate must be above 0");
  return o;
}

// Our peer's port appears with its session, so give it a moment.
std::string findPort(const JackClient& client, const std::string& pattern, unsigned long flags) {
  const auto end = std::chrono::steady_clock::now() + 10s;
  for (;;) {
    const auto ports = client.midiPorts(pattern, flags);
    if (ports.size() == 1) return ports.front();
    if (ports.size() > 1) {
      std::fprintf(stderr, "e2e driver: %zu ports match '%s'\n", ports.size(), pattern.c_str());
      return {};
    }
    if (std::chrono::steady_clock::now() > end) {
      std::fprintf(stderr, "e2e driver: no port matches '%s'\n", pattern.c_str());
      return {};
    }
    std::this_thread::sleep_for(20ms);
  }
}

// The messages a run plays, checks or lists.
std::vector<MidiBytes> messagesOf(const Options& o) {
  if (o.sysex > 0) return {sysExOf(o.sysex)};
  std::vector<MidiBytes> all;
  for (std::uint64_t i = 0; i < o.count; ++i) all.push_back(sequenceMessage(o.first + i));
  return all;
}

int play(const Options& o) {
  PacedKeyboard keyboard(messagesOf(o), o.rate);
  if (!keyboard.ok()) usage("cannot open a JACK client (is JACK_DEFAULT_SERVER's server running?)");
  const std::string target = findPort(keyboard, o.port, JackPortIsInput);
  if (target.empty() || !keyboard.connect(keyboard.port(), target)) return 2;
  keyboard.start();
  const auto deadline = std::chrono::milliseconds(long(double(o.count) / o.rate * 1000.0)) + 30s;
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!keyboard.done()) {
    if (std::chrono::steady_clock::now() > end) {
      std::fprintf(stderr, "e2e driver: the keyboard could not play everything in time\n");
      return 1;
    }
    std::this_thread::sleep_for(5ms);
  }
  // The last cycle's messages leave with that cycle: see one more through.
  keyboard.waitCycles(2);
  std::printf("played %llu\n", static_cast<unsigned long long>(o.count));
  return 0;
}

int recordSysEx(const Options& o) {
  SysExCatcher catcher(o.sysex + 1);  // one more, so that a longer one shows
  if (!catcher.ok()) usage("cannot open a JACK client (is JACK_DEFAULT_SERVER's server running?)");
  const std::string source = findPort(catcher, o.port, JackPortIsOutput);
  if (source.empty() || !catcher.connect(source, catcher.port())) return 2;
  std::printf("ready\n");
  std::fflush(stdout);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(o.deadlineMs > 0 ? o.deadlineMs : 30000);
  while (!catcher.done() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  const MidiBytes want = sysExOf(o.sysex), got = catcher.caught();
  if (got == want) {
    std::printf("received the SysEx of %zu bytes, byte-exact\n", got.size());
    return 0;
  }
  std::printf("expected a SysEx of %zu bytes, got %zu bytes: %s\n", want.size(), got.size(), hex(got).c_str());
  return 1;
}

// What arrives at the port matching o.port until o.count came (and a few cycles
// more) or the deadline passed; nothing when the port cannot be reached.
std::optional<std::vector<MidiBytes>> listen(const Options& o) {
  JackSynth synth("e2e-synth");
  if (!synth.ok()) usage("cannot open a JACK client (is JACK_DEFAULT_SERVER's server running?)");
  const std::string source = findPort(synth, o.port, JackPortIsOutput);
  if (source.empty() || !synth.connect(source, synth.port())) return std::nullopt;
  std::printf("ready\n");
  std::fflush(stdout);

  const long deadline = o.deadlineMs > 0 ? o.deadlineMs : long(double(o.count) / o.rate * 1000.0) + 30000;
  synth.waitFor(o.count, std::chrono::milliseconds(deadline));
  // Whatever would come after the last expected message (a duplicate, say) comes
  // within a few cycles; wait for them before judging.
  synth.waitCycles(20);
  if (synth.overflowed()) {
    std::printf("the recorder's own buffer overflowed; what it got is not the link's\n");
    return std::nullopt;
  }
  return synth.received();
}

int dump(const Options& o) {
  const auto got = listen(o);
  if (!got) return 2;
  for (const MidiBytes& m : *got) std::printf("%s\n", hex(m).c_str());
  return 0;
}

int record(const Options& o) {
  if (o.sysex > 0) return recordSysEx(o);
  const auto heard = listen(o);
  if (!heard) return 2;
  const auto& got = *heard;

  int faults = 0;
  const std::size_t compared = std::min<std::size_t>(got.size(), o.count);
  for (std::size_t k = 0; k < compared && faults < 5; ++k) {
    const MidiBytes want = sequenceMessage(o.first + k);
    if (got[k] != want) {
      std::printf("message %zu: expected %s, got %s\n", k, hex(want).c_str(), hex(got[k]).c_str());
      ++faults;
    }
  }
  if (got.size() != o.count) {
    std::printf("expected %llu messages, got %zu\n", static_cast<unsigned long long>(o.count), got.size());
    ++faults;
  }
  if (faults == 0) std::printf("received %zu, all byte-exact and in order\n", got.size());
  return faults == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  if (o.mode == "list") {
    for (const MidiBytes& m : messagesOf(o)) std::printf("%s\n", hex(m).c_str());
    return 0;
  }
  std::string why;
  if (!jackServerRunning(&why)) usage(why.c_str());
  if (o.mode == "dump") return dump(o);
  return o.mode == "play" ? play(o) : record(o);
}
