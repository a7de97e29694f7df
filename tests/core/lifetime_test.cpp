// How a link ends: whatever state it is in, the MIDI thread is stopped before
// anything it uses goes; each device is closed on its own; a socket on descriptor
// 0 is a socket; an output replaced while thru plays on it is safe. Run under
// AddressSanitizer and ThreadSanitizer too (scripts/asan.sh, scripts/tsan.sh).
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/jack_client.h"
#include "support/side.h"
#include "support/stub_midi.h"
#include "support/real_part.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

midi::ShortMessage note(std::uint8_t n) { return midi::ShortMessage::withStatusSize(0x90, n, 100); }

std::unique_ptr<Side> scriptedSide(ScriptedMidiService*& service, int local, int remote) {
  auto owned = std::make_unique<ScriptedMidiService>();
  service = owned.get();
  auto side = std::make_unique<Side>(std::move(owned));
  side->configure(local, remote);
  side->settings.inputPosition = side->settings.outputPosition = 1;
  return side;
}

}  // namespace

// The MIDI thread plays thru on the output, sends on the socket and hands errors
// to the loop until the input is closed; a link destroyed in the middle of that
// must close the input first. (Member by member, the output went first.) Shown by
// AddressSanitizer: scripts/asan.sh.
TEST(LinkLifetime, ALinkDestroyedWhileTheMidiThreadPlaysStopsItFirst) {
  for (int round = 0; round < 20; ++round) {
    ScriptedMidiService* midi = nullptr;
    auto side = scriptedSide(midi, freePortPair(), freePortPair());
    ASSERT_TRUE(side->start(true));
    std::atomic<int> delivered{0};
    std::thread midiThread([&] {
      while (midi->deliver(note(60))) delivered.fetch_add(1);
    });
    while (delivered.load() < 100) std::this_thread::yield();
    auto owner = std::move(side->midi);  // the service outlives the link, as in the program
    side.reset();
    midiThread.join();
  }
}

// The same with the real JACK backend: its process thread is the MIDI thread.
TEST(LinkLifetime, ALinkDestroyedWhileMidiFlowsThroughJackEndsCleanly) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  JackKeyboard keyboard("lifetime-kb");
  ASSERT_TRUE(keyboard.ok());
  for (int round = 0; round < 3; ++round) {
    auto side = makeSide("Lifetime", freePortPair(), freePortPair());
    ASSERT_TRUE(side->start(true));
    std::vector<std::string> ours;
    ASSERT_TRUE(waitFor([&] { return !(ours = keyboard.midiPorts("^Lifetime", JackPortIsInput)).empty(); }));
    ASSERT_TRUE(keyboard.connect(keyboard.port(), ours[0]));
    ASSERT_TRUE(keyboard.play(std::vector<MidiBytes>(2000, MidiBytes{0xF8}), 8));
    ASSERT_TRUE(waitFor([&] { return side->link.counts().sent > 50; }));
    side.reset();  // mid-stream
    keyboard.waitUntilPlayed();
  }
}

// An input that went away and whose reopening failed leaves no input at exit; the
// output must still release what it holds and close.
TEST(LinkLifetime, EachDeviceIsClosedOnItsOwnAfterAFailedReopen) {
  ScriptedMidiService* midi = nullptr;
  const int local = freePortPair();
  auto side = scriptedSide(midi, local, freePortPair());
  ASSERT_TRUE(side->start());
  RawPeer peer(freePortPair());
  peer.sendTo(local, QByteArray("\x90\x40\x7f", 3));
  ASSERT_TRUE(waitFor([&] { return side->link.counts().received == 1; }));
  midi->inputThere = false;
  side->link.checkDevices();
  midi->inputThere = true;
  midi->failInputOpens = 1;
  side->link.checkDevices();  // back, but the reopen fails
  side->link.shutDown();
  const auto played = midi->playedPerOutput();
  ASSERT_EQ(played.size(), 1u);
  const std::uint8_t received[] = {0x90, 0x40, 0x7F};
  EXPECT_EQ(played[0], (std::vector{midi::ShortMessage::fromBytes(received),
                                    midi::ShortMessage::withStatusSize(0x80, 0x40, 0)}));
  EXPECT_EQ(side->boxes.boxes.size(), 1);  // the input's disappearance, once
}

// A closed standard input hands descriptor 0 to the next socket.
TEST(LinkLifetime, ASocketOnDescriptorZeroCarriesDatagrams) {
  ScriptedMidiService* midi = nullptr;
  const int local = freePortPair();
  auto side = scriptedSide(midi, local, freePortPair());
  const int savedInput = ::dup(0);
  ::close(0);
  const bool started = side->start();
  RawPeer peer(freePortPair());
  peer.sendTo(local, QByteArray("\x90\x40\x7f", 3));
  EXPECT_TRUE(started && waitFor([&] { return side->link.counts().received == 1; }));
  side->link.stop();
  ::dup2(savedInput, 0);
  ::close(savedInput);
}

// The MIDI thread plays thru while the loop's thread replaces the output that went
// away and came back: every message reaches an output, none after its close, and
// nothing is touched after it is gone.
TEST(LinkLifetime, AnOutputReplacedWhileThruPlaysIsSafe) {
  ScriptedMidiService* midi = nullptr;
  auto side = scriptedSide(midi, freePortPair(), freePortPair());
  ASSERT_TRUE(side->start(true));
  std::atomic<bool> done{false};
  std::atomic<int> sent{0};
  std::thread midiThread([&] {
    while (!done.load() && midi->deliver(note(std::uint8_t(sent.load() % 128)))) sent.fetch_add(1);
  });
  for (int swap = 0; swap < 50; ++swap) {
    midi->outputThere = false;
    side->link.checkDevices();
    midi->outputThere = true;
    side->link.checkDevices();
  }
  const int sentAfterSwaps = sent.load();
  waitFor([&] { return sent.load() > sentAfterSwaps + 100; });
  done = true;
  midiThread.join();
  side->link.stop();
  const auto played = midi->playedPerOutput();
  EXPECT_EQ(played.size(), 51u);
  std::size_t total = 0, released = 0;
  for (const auto& p : played)
    for (const auto& m : p) (m.bytes[0] == 0x90 ? total : released) += 1;
  // A message that raced with a close is dropped; never more than were sent.
  EXPECT_LE(total, std::size_t(sent.load()));
  // Stop released on the last output what the thru left sounding there, at most every note once.
  EXPECT_TRUE(released > 0 && released <= 128) << released;
  EXPECT_GT(played.back().size(), 0u);
  EXPECT_EQ(side->boxes.boxes.size(), 50);  // one report per disappearance
}
