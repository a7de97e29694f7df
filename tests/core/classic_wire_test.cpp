// The classic wire of two copies, as a peer on the network sees it. A relay
// between two links on loopback records every datagram of a scripted session
// (probes and replies, short messages in immediate and steady timing, chat lines,
// Panic) and what each side played; the record must equal the one kept in
// tests/data/classic_wire.txt, made by the code before the peer protocols had an
// interface. STRANDLINK_RECORD_WIRE=FILE writes the record instead.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "support/side.h"
#include "support/stub_midi.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

std::string hex(const std::uint8_t* bytes, std::size_t size) {
  return QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(size)).toHex(' ').toStdString();
}

// Four sockets standing for B's two ports to A and A's two ports to B: each
// datagram is written down and passed on. The sender's port says which of its
// sockets sent it.
class Relay {
 public:
  Relay(int aPort, int bPort) : aPort_(aPort), bPort_(bPort), toB_(freePortPair()), toA_(freePortPair()) {
    const std::array<int, 4> ports{toB_, toB_ + 1, toA_, toA_ + 1};
    for (std::size_t i = 0; i < 4; ++i) {
      fds_[i] = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
      const sockaddr_in a = loopback(ports[i]);
      if (::bind(fds_[i], reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) std::abort();
    }
    thread_ = std::thread([this] { run(); });
  }
  ~Relay() {
    stop_ = true;
    thread_.join();
    for (int fd : fds_) ::close(fd);
  }
  int portForA() const { return toB_; }
  int portForB() const { return toA_; }

  // Ordered per stream; one-byte control datagrams only as the set of kinds seen,
  // since when a probe leaves depends on two timers.
  std::vector<std::string> take() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    for (auto& [stream, datagrams] : streams_)
      for (auto& d : datagrams) lines.push_back(stream + ": " + d);
    for (auto& c : control_) lines.push_back(c);
    streams_.clear();
    control_.clear();
    return lines;
  }

 private:
  void run() {
    std::array<pollfd, 4> polls{};
    for (std::size_t i = 0; i < 4; ++i) polls[i] = {fds_[i], POLLIN, 0};
    while (!stop_) {
      if (::poll(polls.data(), polls.size(), 20) <= 0) continue;
      for (std::size_t i = 0; i < 4; ++i)
        if (polls[i].revents & POLLIN) pass(i);
    }
  }
  void pass(std::size_t i) {
    std::array<std::uint8_t, 4096> buffer{};
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const ssize_t n = ::recvfrom(fds_[i], buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &size);
    if (n < 0) return;
    const bool fromA = i < 2;
    const int senderBase = fromA ? aPort_ : bPort_;
    const std::string sender = ntohs(from.sin_port) == senderBase ? "midi socket" : "chat socket";
    const std::string stream = std::string(fromA ? "A>B " : "B>A ") + (i % 2 ? "chat port" : "midi port") +
                               " from " + sender;
    std::string bytes = hex(buffer.data(), std::size_t(n));
    // The moment of a stamped datagram is the sender's clock: masked.
    if (i % 2 == 0 && n == 7) bytes = bytes.substr(0, 8) + " ts ts ts ts";
    {
      std::lock_guard lock(mutex_);
      if (n == 1) control_.insert(stream + ": " + bytes);
      else streams_[stream].push_back(bytes);
    }
    const int target = (fromA ? bPort_ : aPort_) + int(i % 2);
    const sockaddr_in to = loopback(target);
    ::sendto(fds_[i], buffer.data(), std::size_t(n), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }

  int aPort_, bPort_, toB_, toA_;
  std::array<int, 4> fds_{};
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<std::string, std::vector<std::string>> streams_;
  std::set<std::string> control_;
};

struct ScriptedSide {
  ScriptedSide() {
    auto owned = std::make_unique<ScriptedMidiService>();
    midi = owned.get();
    side = std::make_unique<Side>(std::move(owned));
  }
  std::vector<std::string> played() {
    std::vector<std::string> lines;
    for (auto& output : midi->playedPerOutput())
      for (auto& m : output) lines.push_back(hex(m.bytes.data(), m.size));
    return lines;
  }
  ScriptedMidiService* midi;
  std::unique_ptr<Side> side;
};

std::size_t playedCount(ScriptedSide& s) { return s.played().size(); }

// One session in the given timing: both connect, A plays four kinds of short
// message and B one, B and A chat, A's Panic releases what it sent; then both stop.
std::string session(ScriptedSide& a, ScriptedSide& b, Relay& relay, settings::Timing timing) {
  std::vector<std::string> lines{std::string("session ") + (timing == settings::Timing::Steady ? "steady" : "immediate")};
  for (ScriptedSide* s : {&a, &b}) {
    s->side->options.timing = timing;
    EXPECT_TRUE(s->side->start()) << s->side->boxes.texts().join("; ").toStdString();
  }
  EXPECT_TRUE(waitFor([&] {
    return a.side->link.status() == protocol::LinkStatus::Connected && b.side->link.status() == protocol::LinkStatus::Connected;
  }));
  const std::size_t before = playedCount(b);
  for (const auto& m : {midi::ShortMessage{{0x90, 0x3C, 0x40}, 3}, midi::ShortMessage{{0xB0, 0x07, 0x64}, 3},
                        midi::ShortMessage{{0xC2, 0x05, 0x00}, 2}, midi::ShortMessage{{0xF8, 0x00, 0x00}, 1}}) {
    EXPECT_TRUE(a.midi->deliver(m));
  }
  EXPECT_TRUE(b.midi->deliver(midi::ShortMessage{{0xE1, 0x00, 0x7F}, 3}));
  EXPECT_TRUE(waitFor([&] { return playedCount(b) == before + 4 && playedCount(a) == 1; }));
  b.side->link.sendChatLine(QStringLiteral("hello from B"));
  a.side->link.sendChatLine(QStringLiteral("x"));
  EXPECT_TRUE(waitFor([&] { return a.side->chat.size() == 1 && b.side->chat.size() == 1; }));
  a.side->link.panic();  // the pitch bend reset on A, the note-off for B
  EXPECT_TRUE(waitFor([&] { return playedCount(b) == before + 5 && playedCount(a) == 2; }));
  a.side->link.stop();
  b.side->link.stop();
  lines.push_back("A read: " + a.side->chat.takeFirst().toStdString());
  lines.push_back("B read: " + b.side->chat.takeFirst().toStdString());
  for (auto& p : a.played()) lines.push_back("A played: " + p);
  for (auto& p : b.played()) lines.push_back("B played: " + p);
  a.midi->played.clear();
  b.midi->played.clear();
  for (auto& r : relay.take()) lines.push_back(r);
  std::string text;
  for (auto& line : lines) text += line + "\n";
  return text;
}

}  // namespace

TEST(ClassicWire, TwoCopiesPutTheSameBytesOnTheWireAsBefore) {
  const int aPort = freePortPair(), bPort = freePortPair();
  Relay relay(aPort, bPort);
  ScriptedSide a, b;
  a.side->configure(aPort, relay.portForA());
  b.side->configure(bPort, relay.portForB());
  std::string text = session(a, b, relay, settings::Timing::Immediate);
  text += session(a, b, relay, settings::Timing::Steady);
  if (const char* path = std::getenv("STRANDLINK_RECORD_WIRE")) {
    QFile out(QString::fromLocal8Bit(path));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text.c_str());
    return;
  }
  QFile golden(QStringLiteral(STRANDLINK_TEST_DATA "/classic_wire.txt"));
  ASSERT_TRUE(golden.open(QIODevice::ReadOnly)) << "missing golden record";
  EXPECT_EQ(text, golden.readAll().toStdString());
}
