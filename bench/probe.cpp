// The probe of the latency benchmark: one JACK client that plays numbered
// messages at a steady rate into the input of the path under test and records
// them where the path comes out, with both ends stamped on the server's frame
// clock, so that the figures of every path are measured the same way.
//
//   strandlink_bench_probe --to REGEX --from REGEX --rate N [--seconds S]
//                          [--warmup-ms W] [--label L]
//
// --to: the input port the messages go to; --from: the output port they come
// back from (JACK regular expressions, each must match one port). Prints one line,
// "RESULT label=... key=value ...": what was sent, received, lost, reordered, and
// the latency's minimum, 1st percentile, median, 99th percentile and maximum in
// microseconds of the messages sent after the warm-up (all of them count for
// loss). The 99th less the 1st percentile is the spread: how much the delay of
// one message differs from another's, which is what a listener hears as uneven
// timing.
//
// With BENCH_DUMP=PREFIX in the environment it also writes PREFIX<pid>: a line
// per message, its number, the moment it was sent and the moment it came back
// (0: lost), for a closer look at one run.
//
// A message is sent at the frame its due time falls on (its cycle's first frame
// plus its offset) and received at its cycle's first frame plus its offset, both
// turned into microseconds by jack_frames_to_time. A path that plays at the next
// cycle thus shows one period less the offset; a path that misses a cycle shows
// one period more.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Message i: status 0x80-0xBF and two data bytes carry 20 bits of the number,
// enough for 1,048,576 messages (100,000 a second for 10 s).
constexpr std::uint64_t kMaxMessages = 1u << 20;

void encode(std::uint64_t i, std::uint8_t out[3]) {
  out[0] = static_cast<std::uint8_t>(0x80 | ((i >> 14) & 0x3F));
  out[1] = static_cast<std::uint8_t>(i & 0x7F);
  out[2] = static_cast<std::uint8_t>((i >> 7) & 0x7F);
}

// The number a message carries, or -1 when it is none of ours.
std::int64_t decode(const jack_midi_data_t* b, std::size_t size) {
  if (size != 3 || b[0] < 0x80 || b[0] > 0xBF || b[1] > 0x7F || b[2] > 0x7F) return -1;
  return (std::int64_t(b[0] & 0x3F) << 14) | (std::int64_t(b[2]) << 7) | b[1];
}

struct Options {
  std::string to, from, label = "probe";
  long rate = 1000;
  double seconds = 5;
  long warmupMs = 250;
};

[[noreturn]] void usage(const char* why) {
  std::fprintf(stderr,
               "probe: %s\n"
               "usage: strandlink_bench_probe --to REGEX --from REGEX --rate N [--seconds S]\n"
               "                              [--warmup-ms W] [--label L]\n",
               why);
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) usage(("no value for " + a).c_str());
    const char* v = argv[++i];
    if (a == "--to") o.to = v;
    else if (a == "--from") o.from = v;
    else if (a == "--rate") o.rate = std::strtol(v, nullptr, 10);
    else if (a == "--seconds") o.seconds = std::strtod(v, nullptr);
    else if (a == "--warmup-ms") o.warmupMs = std::strtol(v, nullptr, 10);
    else if (a == "--label") o.label = v;
    else usage(("unknown option " + a).c_str());
  }
  if (o.to.empty() || o.from.empty()) usage("--to and --from are needed");
  if (o.rate <= 0 || !(o.seconds > 0)) usage("--rate and --seconds must be above 0");
  if (double(o.rate) * o.seconds > double(kMaxMessages)) usage("more messages than the numbering holds");
  return o;
}

class Probe {
 public:
  explicit Probe(const Options& o) : count_(std::uint64_t(double(o.rate) * o.seconds)), rate_(std::uint64_t(o.rate)) {
    client_ = jack_client_open("bench-probe", JackNoStartServer, nullptr);
    if (client_ == nullptr) usage("no JACK server answers (JACK_DEFAULT_SERVER names the one to use)");
    sampleRate_ = jack_get_sample_rate(client_);
    period_ = jack_get_buffer_size(client_);
    sentUs_.assign(count_, 0);
    receivedUs_.assign(count_, 0);
    out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (out_ == nullptr || in_ == nullptr) usage("cannot register the probe's ports");
    jack_set_process_callback(client_, &Probe::onProcess, this);
    jack_set_xrun_callback(client_, &Probe::onXrun, this);
    if (jack_activate(client_) != 0) usage("cannot activate the probe");
  }
  ~Probe() {
    jack_deactivate(client_);
    jack_client_close(client_);
  }

  bool connect(const std::string& toPattern, const std::string& fromPattern) {
    const std::string to = findPort(toPattern, JackPortIsInput);
    const std::string from = findPort(fromPattern, JackPortIsOutput);
    if (to.empty() || from.empty()) return false;
    if (jack_connect(client_, jack_port_name(out_), to.c_str()) != 0 ||
        jack_connect(client_, from.c_str(), jack_port_name(in_)) != 0) {
      std::fprintf(stderr, "probe: cannot connect to %s and %s\n", to.c_str(), from.c_str());
      return false;
    }
    // A changed graph is used from the start of a later cycle.
    return waitCycles(4);
  }

  // Plays everything and waits for it to come back (or for the drain time to pass).
  void run() {
    started_.store(true);
    const auto playTime = std::chrono::microseconds(count_ * 1000000 / rate_);
    const auto end = std::chrono::steady_clock::now() + playTime + 10s;
    while (sent_.load() < count_ && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
    // Whatever is still on its way arrives within a few cycles, or it is lost.
    const auto drainEnd = std::chrono::steady_clock::now() + 2s;
    while (received_.load() < sent_.load() && std::chrono::steady_clock::now() < drainEnd) {
      std::this_thread::sleep_for(5ms);
    }
    waitCycles(8);
    stopped_.store(true);
    waitCycles(2);
  }

  void print(const Options& o) const {
    const std::uint64_t sent = sent_.load(), received = received_.load();
    // Latency of the messages sent after the warm-up, in microseconds.
    std::vector<std::int64_t> latency;
    latency.reserve(received);
    const jack_time_t warmupEnd = sentUs_.empty() || sentUs_[0] == 0 ? 0 : sentUs_[0] + jack_time_t(o.warmupMs) * 1000;
    for (std::uint64_t i = 0; i < sent; ++i) {
      if (receivedUs_[i] != 0 && sentUs_[i] >= warmupEnd) {
        latency.push_back(std::int64_t(receivedUs_[i]) - std::int64_t(sentUs_[i]));
      }
    }
    if (const char* dump = std::getenv("BENCH_DUMP")) {
      if (FILE* f = std::fopen((dump + std::to_string(::getpid())).c_str(), "w")) {
        for (std::uint64_t i = 0; i < sent; ++i) {
          std::fprintf(f, "%" PRIu64 " %" PRIu64 " %" PRIu64 "\n", i, std::uint64_t(sentUs_[i]), std::uint64_t(receivedUs_[i]));
        }
        std::fclose(f);
      }
    }
    std::sort(latency.begin(), latency.end());
    auto rank = [&](double p) -> long long {
      if (latency.empty()) return -1;
      const std::size_t k = std::size_t(std::ceil(p * double(latency.size())));
      return latency[std::min(latency.size() - 1, k == 0 ? 0 : k - 1)];
    };
    std::printf("RESULT label=%s rate=%ld seconds=%g period=%u sample_rate=%u sent=%" PRIu64 " received=%" PRIu64
                " lost=%" PRIu64 " reordered=%" PRIu64 " duplicates=%" PRIu64 " strays=%" PRIu64 " unsent=%" PRIu64
                " xruns=%" PRIu64
                " samples=%zu min_us=%lld p1_us=%lld median_us=%lld p99_us=%lld"
                " max_us=%lld\n",
                o.label.c_str(), o.rate, o.seconds, period_, sampleRate_, sent, received, sent - received,
                reordered_.load(), duplicates_.load(), strays_.load(), count_ - sent, xruns_.load(), latency.size(),
                latency.empty() ? -1LL : latency.front(), rank(0.01), rank(0.5), rank(0.99),
                latency.empty() ? -1LL : latency.back());
    std::fflush(stdout);
  }

 private:
  std::string findPort(const std::string& pattern, unsigned long flags) const {
    const auto end = std::chrono::steady_clock::now() + 10s;
    for (;;) {
      std::vector<std::string> names;
      if (const char** ports = jack_get_ports(client_, pattern.c_str(), JACK_DEFAULT_MIDI_TYPE, flags)) {
        for (const char** p = ports; *p != nullptr; ++p) names.emplace_back(*p);
        jack_free(ports);
      }
      if (names.size() == 1) return names.front();
      if (names.size() > 1 || std::chrono::steady_clock::now() > end) {
        std::fprintf(stderr, "probe: %zu ports match '%s'; one is needed\n", names.size(), pattern.c_str());
        return {};
      }
      std::this_thread::sleep_for(20ms);
    }
  }

  bool waitCycles(std::uint64_t n) const {
    const std::uint64_t target = cycles_.load() + n;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (cycles_.load() < target) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  static int onXrun(void* self) {
    static_cast<Probe*>(self)->xruns_.fetch_add(1, std::memory_order_relaxed);
    return 0;
  }

  static int onProcess(jack_nframes_t frames, void* self) {
    static_cast<Probe*>(self)->process(frames);
    return 0;
  }

  // Real-time thread: no allocation, no lock, no wait.
  void process(jack_nframes_t frames) {
    const jack_nframes_t cycleStart = jack_last_frame_time(client_);
    // The 32-bit frame clock wraps after a day at 48 kHz; keep a 64-bit one.
    if (cycleStart < lastFrame_) frameBase_ += std::uint64_t(1) << 32;
    lastFrame_ = cycleStart;
    const std::uint64_t now = frameBase_ + cycleStart;
    play(frames, cycleStart, now);
    if (!stopped_.load(std::memory_order_relaxed)) record(frames, cycleStart);
    cycles_.fetch_add(1, std::memory_order_release);
  }

  // Message i is due at a fixed random point of its slot [i, i+1) / rate: the
  // rate holds exactly, and the messages' offsets within a cycle spread evenly.
  // (On a plain grid, 1000 a second at 48 kHz and 32 frames a cycle would put
  // every message at offset 0 or 16, and the median would jump between them.)
  std::uint64_t dueFrame(std::uint64_t i) const {
    std::uint64_t z = (i + 1) * 0x9E3779B97F4A7C15ull;  // splitmix64
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    const double slot = double(i) + double(z >> 11) / double(1ull << 53);
    return std::uint64_t(slot * double(sampleRate_) / double(rate_));
  }

  void play(jack_nframes_t frames, jack_nframes_t cycleStart, std::uint64_t now) {
    void* buffer = jack_port_get_buffer(out_, frames);
    jack_midi_clear_buffer(buffer);
    if (!started_.load(std::memory_order_acquire)) return;
    if (!playing_) {
      playing_ = true;
      startFrame_ = now;
    }
    std::uint64_t next = sent_.load(std::memory_order_relaxed);
    while (next < count_) {
      const std::uint64_t due = startFrame_ + dueFrame(next);
      if (due >= now + frames) break;
      // Late only if a full port buffer held it back last cycle.
      const auto offset = static_cast<jack_nframes_t>(due > now ? due - now : 0);
      std::uint8_t bytes[3];
      encode(next, bytes);
      if (jack_midi_event_write(buffer, offset, bytes, 3) != 0) break;
      sentUs_[next] = jack_frames_to_time(client_, cycleStart + offset);
      ++next;
    }
    sent_.store(next, std::memory_order_release);
  }

  void record(jack_nframes_t frames, jack_nframes_t cycleStart) {
    void* buffer = jack_port_get_buffer(in_, frames);
    const jack_nframes_t events = jack_midi_get_event_count(buffer);
    for (jack_nframes_t k = 0; k < events; ++k) {
      jack_midi_event_t e;
      if (jack_midi_event_get(&e, buffer, k) != 0) continue;
      const std::int64_t seq = decode(e.buffer, e.size);
      if (seq < 0 || std::uint64_t(seq) >= count_) {
        strays_.fetch_add(1, std::memory_order_relaxed);
        continue;
      }
      if (receivedUs_[std::size_t(seq)] != 0) {
        duplicates_.fetch_add(1, std::memory_order_relaxed);
        continue;
      }
      receivedUs_[std::size_t(seq)] = jack_frames_to_time(client_, cycleStart + e.time);
      if (seq < lastSeq_) reordered_.fetch_add(1, std::memory_order_relaxed);
      lastSeq_ = seq;
      received_.fetch_add(1, std::memory_order_release);
    }
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* out_ = nullptr;
  jack_port_t* in_ = nullptr;
  const std::uint64_t count_, rate_;
  jack_nframes_t sampleRate_ = 0, period_ = 0;

  // Indexed by message number; written on the real-time thread only, read by the
  // main thread after the recording stopped (or for numbers the counters publish).
  std::vector<jack_time_t> sentUs_, receivedUs_;

  std::atomic<bool> started_{false}, stopped_{false};
  std::atomic<std::uint64_t> cycles_{0}, sent_{0}, received_{0};
  std::atomic<std::uint64_t> reordered_{0}, duplicates_{0}, strays_{0}, xruns_{0};
  // Real-time thread only.
  bool playing_ = false;
  std::uint64_t startFrame_ = 0, frameBase_ = 0;
  jack_nframes_t lastFrame_ = 0;
  std::int64_t lastSeq_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  Probe probe(o);
  if (!probe.connect(o.to, o.from)) return 2;
  probe.run();
  probe.print(o);
  return 0;
}
