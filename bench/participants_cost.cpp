// What one RTP-MIDI session costs as participants join it: 1, 4 and 16 peers
// invite one responding copy on loopback, all in this process, and the
// responder's input plays numbered notes at a steady rate from a thread of its
// own, as the MIDI thread would. Per participant count it prints:
//   - the MIDI thread's time per message (the hand-over to the sender, which must
//     not grow with participants: the fan-out runs on the sender's thread),
//   - the sender thread's CPU time per message (it builds and sends one packet
//     per participant),
//   - from the hand-over to the last participant's decoded message: median, 99th
//     percentile and maximum, and messages some participant missed,
//   - how much this process grew per participant as the sessions came up (both
//     ends of each live here, so one copy's share is less).
//
//   strandlink_bench_participants [messages-per-second] [seconds]
#include <pthread.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "protocol/admission.h"
#include "protocol/peer_filter.h"
#include "protocol/rtp/rtp_protocol.h"

using namespace strandlink;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kResponderPort = 25000;

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Message i as a note: status 0x80-0x8F and two data bytes carry 18 bits of i.
void encode(std::size_t i, std::uint8_t out[3]) {
  out[0] = std::uint8_t(0x80 | ((i >> 14) & 0x0F));
  out[1] = std::uint8_t(i & 0x7F);
  out[2] = std::uint8_t((i >> 7) & 0x7F);
}
std::size_t decode(std::span<const std::uint8_t> b) {
  return (std::size_t(b[0] & 0x0F) << 14) | (std::size_t(b[2]) << 7) | b[1];
}

// Where one participant's messages arrive: the moment each number was decoded.
struct ArrivalSink : protocol::PeerSink {
  explicit ArrivalSink(std::vector<std::int64_t>& at) : arrivals(at) {}
  void peerEvent(midi::MidiEventView e, std::optional<std::uint32_t>, std::int64_t, std::size_t) override {
    if (e.size() != 3) return;
    if (const std::size_t i = decode(e.bytes()); i < arrivals.size() && arrivals[i] == 0) arrivals[i] = nowNs();
  }
  void peerStatus(protocol::LinkStatus) override {}
  void peerChatLine(const QString&) override {}
  void peerNotice(const protocol::PeerNotice&) override {}
  void peerProblem(const protocol::PeerProblem&) override {}
  void peerFiguresChanged() override {}
  std::vector<std::int64_t>& arrivals;
};

struct Peer {
  std::vector<std::int64_t> arrivals;
  ArrivalSink sink{arrivals};
  protocol::PeerFilter filter;
  protocol::Admission admission;
  protocol::rtp::RtpProtocol rtp{{sink, filter, admission}};
};

bool startRtp(protocol::rtp::RtpProtocol& rtp, int port, std::optional<int> remote) {
  protocol::PeerStart s;
  s.settings.localHost = QStringLiteral("127.0.0.1");
  s.settings.localPort = QString::number(port);
  if (remote) {
    s.settings.remoteHost = QStringLiteral("127.0.0.1");
    s.settings.remotePort = QString::number(*remote);
  }
  s.name = QStringLiteral("bench %1").arg(port);
  return rtp.start(s).running();
}

long residentKib() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
  }
  return 0;
}

// Threads named as the RTP sender names its own.
std::vector<QString> senderThreads() {
  std::vector<QString> found;
  for (const QString& tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
    if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "rtp sender") found.push_back(tid);
  }
  return found;
}

// A thread's time on the CPU so far, in nanoseconds.
std::int64_t cpuNs(const QString& tid) {
  QFile stat(QStringLiteral("/proc/self/task/%1/schedstat").arg(tid));
  return stat.open(QIODevice::ReadOnly) ? stat.readAll().split(' ').first().toLongLong() : 0;
}

bool runLoopUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto until = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > until) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

std::int64_t percentile(std::vector<std::int64_t> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

int measure(std::size_t participants, int rate, int seconds) {
  const std::size_t messages = std::size_t(rate) * std::size_t(seconds);
  std::vector<std::int64_t> arrivalsUnused;
  ArrivalSink quiet(arrivalsUnused);
  protocol::PeerFilter filter;
  protocol::Admission admission;
  protocol::rtp::RtpProtocol responder({quiet, filter, admission});
  if (!startRtp(responder, kResponderPort, std::nullopt)) return 1;
  const std::vector<QString> threads = senderThreads();
  if (threads.size() != 1) {
    std::fprintf(stderr, "participants: the sender's thread is not to be found\n");
    return 1;
  }
  std::vector<std::unique_ptr<Peer>> peers;
  for (std::size_t i = 0; i < participants; ++i) {
    peers.push_back(std::make_unique<Peer>());
    if (!startRtp(peers.back()->rtp, kResponderPort + 100 + 2 * int(i), kResponderPort)) return 1;
  }
  // The peers' own parts are made by now: what grows from here is the sessions.
  const long residentBefore = residentKib();
  if (!runLoopUntil([&] { return responder.participantsLinked() == participants; }, std::chrono::seconds(20))) {
    std::fprintf(stderr, "participants: %zu of %zu joined\n", responder.participantsLinked(), participants);
    return 1;
  }
  const long residentJoined = residentKib();
  for (auto& p : peers) p->arrivals.assign(messages, 0);

  std::vector<std::int64_t> sentAt(messages, 0);
  std::atomic<bool> playing{true};
  std::int64_t handOverNs = 0;
  const std::int64_t senderBefore = cpuNs(threads.front());
  std::thread midiThread([&] {
    const auto start = Clock::now();
    for (std::size_t i = 0; i < messages; ++i) {
      std::this_thread::sleep_until(start + std::chrono::microseconds(std::int64_t(i) * 1000000 / rate));
      std::uint8_t note[3];
      encode(i, note);
      const std::int64_t t0 = nowNs();
      (void)responder.send(midi::MidiEventView(note), t0 / 1000);
      const std::int64_t t1 = nowNs();
      sentAt[i] = t0;
      handOverNs += t1 - t0;
    }
    playing = false;
  });
  runLoopUntil([&] { return !playing; }, std::chrono::seconds(seconds + 30));
  midiThread.join();
  // What is on its way still arrives.
  const auto settle = Clock::now() + std::chrono::milliseconds(300);
  while (Clock::now() < settle) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const std::int64_t senderNs = cpuNs(threads.front()) - senderBefore;

  std::vector<std::int64_t> lastArrival;
  std::size_t missed = 0;
  for (std::size_t i = 0; i < messages; ++i) {
    std::int64_t last = 0;
    bool all = true;
    for (const auto& p : peers) {
      all = all && p->arrivals[i] != 0;
      last = std::max(last, p->arrivals[i]);
    }
    if (all) lastArrival.push_back(last - sentAt[i]);
    else ++missed;
  }
  std::printf(
      "%2zu participant%s  hand-over %5.0f ns  sender %7.0f ns  to the last: median %4lld us, p99 %5lld us, "
      "max %6lld us  missed %zu of %zu  +%ld KiB each\n",
      participants, participants == 1 ? " " : "s", double(handOverNs) / double(messages),
      double(senderNs) / double(messages), static_cast<long long>(percentile(lastArrival, 0.5) / 1000),
      static_cast<long long>(percentile(lastArrival, 0.99) / 1000),
      static_cast<long long>(percentile(lastArrival, 1.0) / 1000), missed, messages,
      (residentJoined - residentBefore) / long(participants));
  for (auto& p : peers) p->rtp.stop();
  responder.stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rate = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 3;
  std::printf("%d messages a second for %d s to each participant, loopback, one process\n", rate, seconds);
  for (const std::size_t n : {std::size_t(1), std::size_t(4), std::size_t(16)}) {
    if (const int failed = measure(n, rate, seconds)) return failed;
  }
  return 0;
}
