// Our JACK client the ways a user reaches it: Stop and Start again and again while
// MIDI flows both ways with thru on, and a JACK server killed and started again
// under a running link. (Devices plugged again: device_return_test.)
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "support/jack_client.h"
#include "support/side.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

std::unique_ptr<Side> makeSide(const std::string& name, int local, int remote) {
  auto side = std::make_unique<Side>(midi::makeMidiService(name));
  side->configure(local, remote);
  return side;
}

}  // namespace

TEST(JackLink, TwoHundredStopsAndStartsWithTrafficBothWaysAndThruOn) {
  if (!jackAvailable()) GTEST_SKIP() << "no JACK server runs (scripts/test.sh starts one)";
  const int pa = freePortPair(), pb = freePortPair();
  auto a = makeSide("CycleA", pa, pb), b = makeSide("CycleB", pb, pa);
  ASSERT_TRUE(a->start(true) && b->start(true));
  JackKeyboard kbA("cycle-kb-a"), kbB("cycle-kb-b");
  JackSynth synA("cycle-syn-a"), synB("cycle-syn-b");
  ASSERT_TRUE(kbA.connect(kbA.port(), "CycleA:in") && kbB.connect(kbB.port(), "CycleB:in"));
  ASSERT_TRUE(synA.connect("CycleA:out", synA.port()) && synB.connect("CycleB:out", synB.port()));
  for (int cycle = 0; cycle < 200; ++cycle) {
    // Notes from A's keyboard, controllers from B's, while both keep playing:
    // A's thru and B's network path end at A's synth, A's network path at B's.
    kbA.play({{0x90, 1, 1}, {0x90, 2, 2}});
    a->link.stop();
    ASSERT_TRUE(a->start(true)) << cycle;
    synA.clear();
    synB.clear();
    ASSERT_TRUE(waitFor([&] {
      kbA.play({{0x90, 3, 3}});
      kbB.play({{0xB0, 4, 4}});
      return countOf(synA, 0x90) > 0 && countOf(synA, 0xB0) > 0 && countOf(synB, 0x90) > 0;
    })) << "cycle " << cycle;
  }
  EXPECT_TRUE(a->boxes.boxes.isEmpty() && b->boxes.boxes.isEmpty()) << a->boxes.texts().join("; ").toStdString();
  // Stop and Start changed no port and no connection.
  auto ports = kbA.midiPorts("^CycleA[-:]", 0);
  std::sort(ports.begin(), ports.end());
  EXPECT_EQ(ports, (std::vector<std::string>{"CycleA:in", "CycleA:out"}));
  EXPECT_TRUE(kbA.connected(kbA.port(), "CycleA:in") && synA.connected("CycleA:out", synA.port()));
}

namespace {

// A JACK server of the test's own, which it may kill; the process's JACK clients
// talk to it while it exists. Killed, it leaves its entry in JACK's registry of
// servers (eight at most) until a server of the same name starts, so one is
// started and stopped in order at the end if need be.
class KillableJack {
 public:
  explicit KillableJack(std::string name) : name_(std::move(name)) {
    if (const char* was = std::getenv("JACK_DEFAULT_SERVER")) saved_ = was;
    ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
  }
  ~KillableJack() {
    if (pid_ <= 0 && killed_) start();
    stop(SIGTERM);
    saved_.empty() ? ::unsetenv("JACK_DEFAULT_SERVER") : ::setenv("JACK_DEFAULT_SERVER", saved_.c_str(), 1);
  }
  bool start() {
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
  void stop(int signal) {
    if (pid_ <= 0) return;
    killed_ = signal == SIGKILL;
    ::kill(pid_, signal);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  std::string name_, saved_;
  pid_t pid_ = -1;
  bool killed_ = false;
};

}  // namespace

TEST(JackLink, AServerKilledAndStartedAgainCarriesMidiAgainWithoutARestart) {
  KillableJack server("strandlink-restart-" + std::to_string(::getpid()));
  if (!server.start()) GTEST_SKIP() << "jackd cannot start here";
  const int local = freePortPair();
  RawPeer peer(freePortPair());
  auto side = makeSide("Phoenix", local, peer.port());  // our own ports are the devices
  ASSERT_TRUE(side->start());
  // 300 notes into our input reach the peer, and the peer's datagram our output.
  const auto flows = [&] {
    JackKeyboard keyboard("phoenix-kb");
    JackSynth synth("phoenix-syn");
    if (!keyboard.connect(keyboard.port(), "Phoenix:in") || !synth.connect("Phoenix:out", synth.port())) return false;
    // A new connection carries data some cycles later (many under a sanitizer):
    // active sensing until one gets through, then the rest of them drained.
    const bool through = waitFor([&] {
      keyboard.play({{0xFE}});
      return peer.receive(100) == QByteArray("\xFE\x00\x00", 3);
    });
    if (!through) return false;
    while (peer.receive(200)) {
    }
    std::vector<MidiBytes> notes;
    for (int i = 0; i < 300; ++i) notes.push_back({0x90, std::uint8_t(i % 128), std::uint8_t(1 + i / 128)});
    keyboard.play(notes, 4);
    for (const MidiBytes& note : notes)
      if (peer.receive() != QByteArray(reinterpret_cast<const char*>(note.data()), 3)) return false;
    peer.sendTo(local, QByteArray("\x80\x3C\x00", 3));
    return waitFor([&] { return synth.received() == std::vector<MidiBytes>{{0x80, 0x3C, 0}}; });
  };
  const auto check = [&] { side->link.checkDevices(); };
  ASSERT_TRUE(flows());

  server.stop(SIGKILL);
  ASSERT_TRUE(waitFor([&] { check(); return !side->boxes.boxes.isEmpty(); }));
  for (int i = 0; i < 3; ++i) check();
  ASSERT_EQ(side->boxes.boxes.size(), 1) << "reported once: " << side->boxes.texts().join("; ").toStdString();
  EXPECT_EQ(side->boxes.boxes[0].title, "Device Error");
  EXPECT_TRUE(side->boxes.boxes[0].text.startsWith("Midi Service:  The MIDI service has gone away."));
  EXPECT_EQ(side->midi->checkService(), midi::ServiceState::Down);  // asked anew, not remembered

  ASSERT_TRUE(server.start());
  ASSERT_TRUE(waitFor([&] { check(); return side->boxes.boxes.size() == 2; }));
  EXPECT_TRUE(side->boxes.boxes[1].text.startsWith("Midi Service:  The MIDI service is back"));
  EXPECT_TRUE(side->midi->inputPresent(0) && side->midi->outputPresent(0));
  EXPECT_TRUE(flows());
  side->link.stop();
  EXPECT_EQ(side->boxes.boxes.size(), 2);
}

namespace {

MidiBytes sysEx(std::size_t size) {
  MidiBytes m(size, 0x55);
  m.front() = 0xF0;
  m.back() = 0xF7;
  return m;
}

}  // namespace

// A SysEx plays on the thru but is not sent to a classic peer, which has no
// datagram for it; the notes around it go as before. That, and a SysEx the input
// had to drop, are each said once a session.
TEST(JackLink, SysExPlaysOnTheThruOnlyAndWhatAClassicPeerMissesIsSaidOnceASession) {
  if (!jackAvailable()) {
    if (const char* ci = std::getenv("CI"); ci != nullptr && std::string(ci) == "true")
      FAIL() << "no JACK server runs (scripts/test.sh starts one)";
    GTEST_SKIP() << "no JACK server runs (scripts/test.sh starts one)";
  }
  RawPeer peer(freePortPair());
  auto side = makeSide("SysExSide", freePortPair(), peer.port());
  JackSysExClient player("sysex-player");
  ASSERT_TRUE(player.ok() && side->start(true));
  ASSERT_TRUE(player.connect(player.outPort(), "SysExSide:in") && player.connect("SysExSide:out", player.inPort()));
  ASSERT_TRUE(waitFor([&] {
    player.play({{{0xFE}}});
    return peer.receive(100) == QByteArray("\xFE\x00\x00", 3);
  }));
  while (peer.receive(200)) {
  }
  const MidiBytes dump = sysEx(1000), tooLong = sysEx(midi::kMaxMessageBytes + 1);
  const std::size_t piece = player.roomPerCycle();
  for (int session = 0; session < 2; ++session) {
    SCOPED_TRACE(session);
    const std::size_t logged = player.events().size();
    player.play({{{0x90, 1, 1}}, {dump, 300}, {{0x80, 1, 0}}, {tooLong, piece}, {dump}, {tooLong, piece}, {{0x90, 2, 2}}});
    ASSERT_TRUE(player.waitUntilPlayed());
    EXPECT_EQ(peer.receive(), QByteArray("\x90\x01\x01", 3));
    EXPECT_EQ(peer.receive(), QByteArray("\x80\x01\x00", 3));
    EXPECT_EQ(peer.receive(), QByteArray("\x90\x02\x02", 3));
    EXPECT_FALSE(peer.receive(300)) << "nothing but the notes";
    ASSERT_TRUE(waitFor([&] { return player.lastEvent() == MidiBytes{0x90, 2, 2}; }));
    const auto all = player.events();
    auto thru = wholeMessages({all.begin() + std::ptrdiff_t(logged), all.end()});
    std::erase_if(thru, [](const auto& m) { return m.bytes == MidiBytes{0xFE}; });  // late from the warm-up
    EXPECT_TRUE(thru.size() == 5 && thru[1].bytes == dump && thru[3].bytes == dump) << thru.size();
    settle(300);
    ASSERT_EQ(side->boxes.boxes.size(), 2 * (session + 1)) << side->boxes.texts().join("; ").toStdString();
    const QString said = side->boxes.texts().mid(2 * session).join(" ");
    EXPECT_TRUE(said.contains("SysEx from the MIDI input is not sent to the peer") &&
                said.contains("longer than 64 KiB")) << said.toStdString();
    side->link.stop();
    ASSERT_TRUE(side->start(true));
    settle(100);
  }
}
