// The floor of the latency benchmark: the least any bridge of JACK MIDI over UDP
// has to do, on the same server and the same kind of sockets as Strandlink.
//
//   strandlink_bench_floor --name NAME --send-to PORT [--bind PORT]
//       a JACK client with an input port "in" that sends each message it captures
//       as one 3-byte datagram to 127.0.0.1:PORT, from inside its process callback;
//   strandlink_bench_floor --name NAME --listen PORT
//       a JACK client with an output port "out" that plays each datagram arriving
//       on 127.0.0.1:PORT at the start of the next cycle: a thread waits on the
//       socket and hands the messages to the process callback through a lock-free
//       ring. Waiting for the next cycle is what every JACK program's output does.
//
// Both print "ready", run until SIGINT or SIGTERM and then print their counts.
// Default socket buffers, as Strandlink's sockets have.
#include <arpa/inet.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

struct Options {
  std::string name;
  int sendTo = 0, bindPort = 0, listen = 0;
};

[[noreturn]] void usage(const char* why) {
  std::fprintf(stderr,
               "floor: %s\n"
               "usage: strandlink_bench_floor --name NAME --send-to PORT [--bind PORT]\n"
               "       strandlink_bench_floor --name NAME --listen PORT\n",
               why);
  std::exit(2);
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) usage(("no value for " + a).c_str());
    const char* v = argv[++i];
    if (a == "--name") o.name = v;
    else if (a == "--send-to") o.sendTo = std::atoi(v);
    else if (a == "--bind") o.bindPort = std::atoi(v);
    else if (a == "--listen") o.listen = std::atoi(v);
    else usage(("unknown option " + a).c_str());
  }
  if (o.name.empty()) usage("--name is needed");
  if ((o.sendTo > 0) == (o.listen > 0)) usage("one of --send-to and --listen is needed");
  return o;
}

sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

int udpSocket(int port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const sockaddr_in a = loopback(port);
  if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    std::perror("floor: socket");
    std::exit(1);
  }
  return fd;
}

int shortLength(std::uint8_t status) {
  if ((status >= 0x80 && status <= 0xBF) || (status & 0xF0) == 0xE0 || status == 0xF2) return 3;
  if ((status >= 0xC0 && status <= 0xDF) || status == 0xF1 || status == 0xF3) return 2;
  return 1;
}

// One producer, one consumer, no lock: the socket thread pushes, JACK's pops.
class WordRing {
 public:
  bool push(std::uint32_t w) {
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    if (tail - head_.load(std::memory_order_acquire) == words_.size()) return false;
    words_[tail % words_.size()] = w;
    tail_.store(tail + 1, std::memory_order_release);
    return true;
  }
  bool pop(std::uint32_t& w) {
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) return false;
    w = words_[head % words_.size()];
    head_.store(head + 1, std::memory_order_release);
    return true;
  }

 private:
  std::array<std::uint32_t, 1 << 16> words_{};
  std::atomic<std::size_t> head_{0}, tail_{0};
};

class Floor {
 public:
  explicit Floor(const Options& o) : sending_(o.sendTo > 0) {
    client_ = jack_client_open(o.name.c_str(), JackNoStartServer, nullptr);
    if (client_ == nullptr) usage("no JACK server answers (JACK_DEFAULT_SERVER names the one to use)");
    port_ = jack_port_register(client_, sending_ ? "in" : "out", JACK_DEFAULT_MIDI_TYPE,
                               sending_ ? JackPortIsInput : JackPortIsOutput, 0);
    if (port_ == nullptr) usage("cannot register the port");
    fd_ = udpSocket(sending_ ? o.bindPort : o.listen);
    peer_ = loopback(o.sendTo);
    if (!sending_) {
      if (::pipe2(stopPipe_, O_CLOEXEC) != 0) std::exit(1);
      reader_ = std::thread([this] { readLoop(); });
    }
    jack_set_process_callback(client_, &Floor::onProcess, this);
    if (jack_activate(client_) != 0) usage("cannot activate the client");
  }

  ~Floor() {
    jack_deactivate(client_);
    if (reader_.joinable()) {
      [[maybe_unused]] auto n = ::write(stopPipe_[1], "x", 1);
      reader_.join();
    }
    jack_client_close(client_);
    ::close(fd_);
  }

  // The same line as the window side's: datagrams sent, datagrams received; then
  // what failed or was dropped.
  void report() const {
    const unsigned long long done = done_.load(), failed = failed_.load(), dropped = dropped_.load();
    std::printf("sent %llu received %llu failed %llu dropped %llu\n", sending_ ? done : 0,
                sending_ ? 0 : received_.load(), failed, dropped);
  }

 private:
  static int onProcess(jack_nframes_t frames, void* self) {
    auto& f = *static_cast<Floor*>(self);
    if (f.sending_) f.capture(frames);
    else f.play(frames);
    return 0;
  }

  // Real-time thread: each captured message leaves at once, from here.
  void capture(jack_nframes_t frames) {
    void* buffer = jack_port_get_buffer(port_, frames);
    const jack_nframes_t events = jack_midi_get_event_count(buffer);
    for (jack_nframes_t k = 0; k < events; ++k) {
      jack_midi_event_t e;
      if (jack_midi_event_get(&e, buffer, k) != 0 || e.size == 0 || e.size > 3) continue;
      std::uint8_t bytes[3] = {0, 0, 0};
      std::memcpy(bytes, e.buffer, e.size);
      if (::sendto(fd_, bytes, 3, 0, reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_) == 3) {
        done_.fetch_add(1, std::memory_order_relaxed);
      } else {
        failed_.fetch_add(1, std::memory_order_relaxed);
      }
    }
  }

  // Real-time thread: whatever arrived since the last cycle, at its start.
  void play(jack_nframes_t frames) {
    void* buffer = jack_port_get_buffer(port_, frames);
    jack_midi_clear_buffer(buffer);
    std::uint32_t w = 0;
    while (ring_.pop(w)) {
      const std::uint8_t bytes[3] = {std::uint8_t(w), std::uint8_t(w >> 8), std::uint8_t(w >> 16)};
      if (jack_midi_event_write(buffer, 0, bytes, std::size_t(shortLength(bytes[0]))) == 0) {
        done_.fetch_add(1, std::memory_order_relaxed);
      } else {
        dropped_.fetch_add(1, std::memory_order_relaxed);
      }
    }
  }

  // The socket's thread: sleeps in poll() until a datagram or the stop comes.
  void readLoop() {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents != 0) return;
      std::uint8_t b[256];
      ssize_t n;
      while ((n = ::recv(fd_, b, sizeof b, 0)) > 0) {
        const std::uint32_t w = b[0] | (n > 1 ? std::uint32_t(b[1]) << 8 : 0) | (n > 2 ? std::uint32_t(b[2]) << 16 : 0);
        received_.fetch_add(1, std::memory_order_relaxed);
        if (!ring_.push(w)) dropped_.fetch_add(1, std::memory_order_relaxed);
      }
    }
  }

  const bool sending_;
  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
  int fd_ = -1;
  int stopPipe_[2] = {-1, -1};
  sockaddr_in peer_{};
  WordRing ring_;
  std::thread reader_;
  std::atomic<unsigned long long> done_{0}, failed_{0}, dropped_{0}, received_{0};
};

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  // Every thread made from here on (ours and JACK's) leaves the stop signals to sigwait below.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  Floor bridge(o);
  std::printf("ready\n");
  std::fflush(stdout);
  int sig = 0;
  sigwait(&stop, &sig);
  bridge.report();
  return 0;
}
