#include "support/jack_client.h"

#include <jack/midiport.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "base/monotonic_clock.h"

namespace strandlink::test {

namespace {

void quiet(const char*) {}

// Polls a condition; the JACK side runs on its own clock, so there is nothing to
// be woken by without a lock on the real-time thread.
template <class Ready>
bool pollUntil(std::chrono::milliseconds deadline, Ready ready) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace

bool jackServerRunning(std::string* why) {
  const char* server = std::getenv("JACK_DEFAULT_SERVER");
  if (server == nullptr || *server == '\0') {
    if (why) *why = "JACK_DEFAULT_SERVER is not set (scripts/test.sh starts a private server)";
    return false;
  }
  void (*const saved)(const char*) = jack_error_callback;
  jack_set_error_function(&quiet);
  jack_client_t* probe = jack_client_open("probe", JackNoStartServer, nullptr);
  jack_set_error_function(saved);
  if (probe == nullptr) {
    if (why) *why = std::string("no JACK server named '") + server + "' answers";
    return false;
  }
  jack_client_close(probe);
  return true;
}

// ---- MidiRing --------------------------------------------------------------

bool MidiRing::push(const std::uint8_t* bytes, std::size_t size, std::uint32_t frame, std::int64_t micros) {
  const std::size_t tail = tail_.load(std::memory_order_relaxed);
  if (tail - head_.load(std::memory_order_acquire) == kCapacity) return false;
  Slot& slot = slots_[tail % kCapacity];
  slot.size = static_cast<std::uint8_t>(std::min(size, kMaxBytes));
  std::copy_n(bytes, slot.size, slot.bytes.begin());
  slot.frame = frame;
  slot.micros = micros;
  tail_.store(tail + 1, std::memory_order_release);
  return true;
}

bool MidiRing::pop(MidiBytes& out, std::uint32_t* frame, std::int64_t* micros) {
  const std::size_t head = head_.load(std::memory_order_relaxed);
  if (head == tail_.load(std::memory_order_acquire)) return false;
  const Slot& slot = slots_[head % kCapacity];
  out.assign(slot.bytes.begin(), slot.bytes.begin() + slot.size);
  if (frame != nullptr) *frame = slot.frame;
  if (micros != nullptr) *micros = slot.micros;
  head_.store(head + 1, std::memory_order_release);
  return true;
}

// ---- JackClient ------------------------------------------------------------

JackClient::JackClient(const std::string& name) {
  client_ = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
  if (client_ != nullptr) jack_set_process_callback(client_, &JackClient::onProcess, this);
}

JackClient::~JackClient() {
  deactivate();
  if (client_ != nullptr) jack_client_close(client_);
}

jack_port_t* JackClient::registerPort(const std::string& shortName, unsigned long flags) {
  if (client_ == nullptr) return nullptr;
  return jack_port_register(client_, shortName.c_str(), JACK_DEFAULT_MIDI_TYPE, flags, 0);
}

void JackClient::activate() {
  active_ = client_ != nullptr && jack_activate(client_) == 0;
}

void JackClient::deactivate() {
  if (active_) jack_deactivate(client_);
  active_ = false;
}

int JackClient::onProcess(jack_nframes_t frames, void* self) {
  auto& client = *static_cast<JackClient*>(self);
  client.toMonotonic_ = monotonicMicros() - std::int64_t(jack_get_time());
  client.process(frames);
  client.cycles_.fetch_add(1);
  return 0;
}

std::int64_t JackClient::momentOf(jack_nframes_t frame) const {
  return std::int64_t(jack_frames_to_time(client_, frame)) + toMonotonic_;
}

bool JackClient::waitCycles(int count, std::chrono::milliseconds deadline) const {
  if (!ok()) return false;
  const std::uint64_t target = cycles_.load() + std::uint64_t(count);
  return pollUntil(deadline, [&] { return cycles_.load() >= target; });
}

std::vector<std::string> JackClient::midiPorts(const std::string& pattern, unsigned long flags) const {
  std::vector<std::string> names;
  if (client_ == nullptr) return names;
  const char** ports = jack_get_ports(client_, pattern.c_str(), JACK_DEFAULT_MIDI_TYPE, flags);
  if (ports == nullptr) return names;
  for (const char** p = ports; *p != nullptr; ++p) names.emplace_back(*p);
  jack_free(ports);
  return names;
}

bool JackClient::connect(const std::string& source, const std::string& destination) {
  if (client_ == nullptr) return false;
  const int r = jack_connect(client_, source.c_str(), destination.c_str());
  if (r != 0 && r != EEXIST) return false;
  return !active_ || waitCycles(2);
}

bool JackClient::connected(const std::string& source, const std::string& destination) const {
  if (client_ == nullptr) return false;
  jack_port_t* port = jack_port_by_name(client_, source.c_str());
  return port != nullptr && jack_port_connected_to(port, destination.c_str()) != 0;
}

// ---- JackKeyboard ----------------------------------------------------------

JackKeyboard::JackKeyboard(const std::string& name) : JackClient(name) {
  port_ = registerPort("out", JackPortIsOutput);
  if (port_ != nullptr) activate();
}

JackKeyboard::~JackKeyboard() { deactivate(); }

std::string JackKeyboard::port() const {
  return port_ != nullptr ? jack_port_name(port_) : std::string();
}

bool JackKeyboard::play(const std::vector<MidiBytes>& messages, int perCycle) {
  perCycle_.store(std::max(perCycle, 1));
  for (const MidiBytes& m : messages) {
    if (!queue_.push(m.data(), m.size())) return false;
    queued_.fetch_add(1);
  }
  return true;
}

// A gap's top bit marks the first message of a pattern.
constexpr std::uint32_t kPatternStart = 1u << 31;

bool JackKeyboard::playSpaced(const std::vector<MidiBytes>& messages, const std::vector<std::uint32_t>& gaps) {
  perCycle_.store(0);
  playedTimes();
  playedTimes_.clear();
  for (std::size_t k = 0; k < messages.size(); ++k) {
    if (!queue_.push(messages[k].data(), messages[k].size(), gaps[k] | (k == 0 ? kPatternStart : 0))) return false;
    queued_.fetch_add(1);
  }
  return true;
}

bool JackKeyboard::waitUntilPlayed(std::chrono::milliseconds deadline) const {
  return pollUntil(deadline, [&] { return played_.load() == queued_.load(); });
}

// Real-time thread. Several messages of one cycle go out in order at increasing
// frame offsets, or each at its own frame when spaced.
void JackKeyboard::process(jack_nframes_t frames) {
  void* buffer = jack_port_get_buffer(port_, frames);
  jack_midi_clear_buffer(buffer);
  const int perCycle = perCycle_.load();
  if (!holding_) due_.reserve(MidiRing::kMaxBytes);  // no allocation in pop() below
  if (perCycle == 0) {
    const jack_nframes_t start = jack_last_frame_time(client());
    for (std::uint32_t gap = 0; holding_ || queue_.pop(due_, &gap); holding_ = false) {
      if (!holding_ && (gap & kPatternStart)) {
        patternStart_.store(start);
        dueFrame_ = start;
      }
      if (!holding_) dueFrame_ += gap & ~kPatternStart;
      holding_ = true;
      const auto offset = std::int32_t(dueFrame_ - start);
      if (offset >= std::int32_t(frames)) break;
      const jack_nframes_t at = jack_nframes_t(std::max(offset, 0));
      playedRing_.push(nullptr, 0, 0, momentOf(start + at));
      write(buffer, at);
    }
    return;
  }
  for (int i = 0; i < perCycle && queue_.pop(due_); ++i)
    write(buffer, std::min<jack_nframes_t>(static_cast<jack_nframes_t>(i), frames - 1));
}

std::vector<std::int64_t> JackKeyboard::playedTimes() {
  MidiBytes none;
  std::int64_t micros = 0;
  while (playedRing_.pop(none, nullptr, &micros)) playedTimes_.push_back(micros);
  return playedTimes_;
}

void JackKeyboard::write(void* buffer, jack_nframes_t offset) {
  jack_midi_event_write(buffer, offset, due_.data(), due_.size());
  played_.fetch_add(1);
}

// ---- JackSynth -------------------------------------------------------------

JackSynth::JackSynth(const std::string& name) : JackClient(name) {
  port_ = registerPort("in", JackPortIsInput);
  if (port_ != nullptr) activate();
}

JackSynth::~JackSynth() { deactivate(); }

std::string JackSynth::port() const {
  return port_ != nullptr ? jack_port_name(port_) : std::string();
}

// Real-time thread.
void JackSynth::process(jack_nframes_t frames) {
  void* buffer = jack_port_get_buffer(port_, frames);
  const jack_nframes_t count = jack_midi_get_event_count(buffer);
  const std::int64_t nowMicros = monotonicMicros();
  const std::int64_t period = std::int64_t(frames) * 1000000 / jack_get_sample_rate(client());
  if (lastCycleMicros_ != 0 && nowMicros - lastCycleMicros_ > period + 1000) {
    lateCycles_.fetch_add(1);
    const auto lateBy = std::uint32_t(nowMicros - lastCycleMicros_ - period);
    lateRing_.push(nullptr, 0, lateBy, momentOf(jack_last_frame_time(client())));
  }
  lastCycleMicros_ = nowMicros;
  for (jack_nframes_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0) continue;
    const jack_nframes_t frame = jack_last_frame_time(client()) + event.time;
    if (!ring_.push(event.buffer, event.size, frame, momentOf(frame))) overflowed_.store(true);
  }
}

std::unique_lock<std::mutex> JackSynth::collect() {
  std::unique_lock lock(mutex_);
  MidiBytes message;
  std::uint32_t frame = 0;
  std::int64_t micros = 0;
  while (ring_.pop(message, &frame, &micros)) {
    received_.push_back(message);
    frames_.push_back(frame);
    times_.push_back(micros);
  }
  while (lateRing_.pop(message, &frame, &micros)) {
    // What was due while the machine stood still came out when it moved again;
    // the server's clock settles over a couple of cycles after.
    const std::int64_t margin = 2 * periodMicros();
    lateSpans_.push_back({micros - std::int64_t(frame) - margin, micros + margin});
  }
  return lock;
}

std::vector<MidiBytes> JackSynth::received() {
  const auto lock = collect();
  return received_;
}

bool JackSynth::waitFor(std::size_t count, std::chrono::milliseconds deadline) {
  return pollUntil(deadline, [&] {
    const auto lock = collect();
    return received_.size() >= count;
  });
}

std::size_t JackSynth::count() {
  const auto lock = collect();
  return received_.size();
}

std::vector<std::uint32_t> JackSynth::frames() {
  const auto lock = collect();
  return frames_;
}

std::vector<std::int64_t> JackSynth::times() {
  const auto lock = collect();
  return times_;
}

std::vector<std::pair<std::int64_t, std::int64_t>> JackSynth::stalls() {
  const auto lock = collect();
  return lateSpans_;
}

void JackSynth::clear() {
  const auto lock = collect();
  received_.clear();
  frames_.clear();
  times_.clear();
  lateSpans_.clear();
  lateCycles_.store(0);
}

KillableJack::KillableJack(std::string name) : name_(std::move(name)) {
  if (const char* was = std::getenv("JACK_DEFAULT_SERVER")) saved_ = was;
  ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
}

KillableJack::~KillableJack() {
  if (pid_ <= 0 && killed_) start();
  stop(SIGTERM);
  saved_.empty() ? ::unsetenv("JACK_DEFAULT_SERVER") : ::setenv("JACK_DEFAULT_SERVER", saved_.c_str(), 1);
}

bool KillableJack::start() {
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    ::freopen("/dev/null", "w", stdout);
    ::freopen("/dev/null", "w", stderr);
    ::execlp("jackd", "jackd", "-n", name_.c_str(), "-R", "-S", "-d", "dummy", "-r", "48000", "-p", "128",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const std::string answers = "jack_wait -c -s " + name_ + " 2>/dev/null | grep -qx running";
  for (int i = 0; i < 100; ++i, ::usleep(100000))
    if (std::system(answers.c_str()) == 0) return true;
  return false;
}

void KillableJack::stop(int signal) {
  if (pid_ <= 0) return;
  killed_ = signal == SIGKILL;
  ::kill(pid_, signal);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

// ---- JackSysExClient ---------------------------------------------------------

JackSysExClient::JackSysExClient(const std::string& name)
    : JackClient(name), bytes_(8 << 20), logged_(1 << 16) {
  out_ = registerPort("out", JackPortIsOutput);
  in_ = registerPort("in", JackPortIsInput);
  if (out_ != nullptr && in_ != nullptr) activate();
  waitCycles(1);
}

JackSysExClient::~JackSysExClient() { deactivate(); }

std::string JackSysExClient::outPort() const { return out_ != nullptr ? jack_port_name(out_) : std::string(); }
std::string JackSysExClient::inPort() const { return in_ != nullptr ? jack_port_name(in_) : std::string(); }

void JackSysExClient::play(std::vector<Step> steps) {
  playing_.store(false);
  waitCycles(2);  // the real-time thread has let go of the last script
  steps_ = std::move(steps);
  playedFrames_.assign(steps_.size(), 0);
  step_ = offset_ = 0;
  done_.store(false);
  playing_.store(true);
}

bool JackSysExClient::waitUntilPlayed(std::chrono::milliseconds deadline) const {
  return pollUntil(deadline, [&] { return done_.load(); });
}

void JackSysExClient::process(jack_nframes_t frames) {
  void* out = jack_port_get_buffer(out_, frames);
  jack_midi_clear_buffer(out);
  room_.store(jack_midi_max_event_size(out));
  if (playing_.load() && !done_.load()) playSteps(out);
  void* in = jack_port_get_buffer(in_, frames);
  const jack_nframes_t count = jack_midi_get_event_count(in);
  for (jack_nframes_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, in, i) == 0) logEvent(event);
  }
}

void JackSysExClient::logEvent(const jack_midi_event_t& event) {
  const std::size_t n = count_.load(std::memory_order_relaxed);
  if (n == logged_.size() || used_ + event.size > bytes_.size()) {
    overflowed_.store(true);
    return;
  }
  std::copy_n(event.buffer, event.size, bytes_.begin() + std::ptrdiff_t(used_));
  logged_[n] = {used_, event.size, jack_last_frame_time(client()) + event.time};
  used_ += event.size;
  count_.store(n + 1, std::memory_order_release);
}

void JackSysExClient::playSteps(void* buffer) {
  const jack_nframes_t start = jack_last_frame_time(client());
  while (step_ < steps_.size()) {
    const Step& step = steps_[step_];
    const std::size_t rest = step.bytes.size() - offset_;
    const std::size_t n = step.piece == 0 ? rest : std::min(step.piece, rest);
    if (jack_midi_event_write(buffer, 0, step.bytes.data() + offset_, n) != 0) return;  // next cycle
    offset_ += n;
    if (offset_ < step.bytes.size()) return;  // one piece a cycle
    playedFrames_[step_++] = start;
    offset_ = 0;
    if (step.piece != 0 && step.piece < step.bytes.size()) return;
  }
  done_.store(true);
}

std::vector<JackSysExClient::Event> JackSysExClient::events() const {
  const std::size_t n = count_.load(std::memory_order_acquire);
  std::vector<Event> events;
  for (std::size_t k = 0; k < n; ++k) {
    const auto from = bytes_.begin() + std::ptrdiff_t(logged_[k].offset);
    events.push_back({MidiBytes(from, from + std::ptrdiff_t(logged_[k].size)), logged_[k].frame});
  }
  return events;
}

MidiBytes JackSysExClient::lastEvent() const {
  const std::size_t n = count_.load(std::memory_order_acquire);
  if (n == 0) return {};
  const auto from = bytes_.begin() + std::ptrdiff_t(logged_[n - 1].offset);
  return MidiBytes(from, from + std::ptrdiff_t(logged_[n - 1].size));
}

std::vector<JackSysExClient::Event> wholeMessages(const std::vector<JackSysExClient::Event>& events) {
  std::vector<JackSysExClient::Event> whole;
  bool open = false;
  for (const auto& e : events) {
    if (open) {
      whole.back().bytes.insert(whole.back().bytes.end(), e.bytes.begin(), e.bytes.end());
      whole.back().frame = e.frame;
    } else {
      whole.push_back(e);
    }
    open = whole.back().bytes.front() == 0xF0 && whole.back().bytes.back() != 0xF7;
  }
  return whole;
}

}  // namespace strandlink::test
