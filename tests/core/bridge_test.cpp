// The whole link in one process: a JACK keyboard plays into side A, A sends over
// loopback UDP to side B, and a JACK synth records what B plays.
#include <gtest/gtest.h>


#include "support/jack_client.h"
#include "support/side.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

class Bridge : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!jackAvailable()) GTEST_SKIP() << "no JACK server runs (scripts/test.sh starts one)";
    const int pa = freePortPair(), pb = freePortPair();
    a = makeSide("BridgeA", pa, pb);
    b = makeSide("BridgeB", pb, pa);
    ASSERT_TRUE(a->start()) << a->boxes.texts().join("; ").toStdString();
    ASSERT_TRUE(b->start()) << b->boxes.texts().join("; ").toStdString();
    portB = pb;
    ASSERT_TRUE(keyboard.ok() && synth.ok());
    const auto aIn = keyboard.midiPorts("^BridgeA", JackPortIsInput);
    const auto bOut = synth.midiPorts("^BridgeB", JackPortIsOutput);
    ASSERT_EQ(aIn.size(), 1u);
    ASSERT_EQ(bOut.size(), 1u);
    ASSERT_TRUE(keyboard.connect(keyboard.port(), aIn[0]));
    ASSERT_TRUE(synth.connect(bOut[0], synth.port()));
    ASSERT_TRUE(warmUp());
  }
  // JACK takes new ports and connections into use some cycles later (many under a
  // sanitizer): play active sensing until one gets through, then start afresh.
  bool warmUp() {
    bool through = false;
    for (int i = 0; i < 40 && !through; ++i) {
      keyboard.play({{0xFE}});
      through = waitFor([&] { return !synth.received().empty(); }, 500);
    }
    // Let the stragglers of the warm-up arrive before starting afresh.
    for (std::size_t seen = SIZE_MAX; seen != synth.received().size();) {
      seen = synth.received().size();
      settle(300);
    }
    synth.clear();
    sentBefore = a->link.counts().sent;
    receivedBefore = b->link.counts().received;
    return through;
  }
  static std::unique_ptr<Side> makeSide(const std::string& name, int local, int remote) {
    auto side = std::make_unique<Side>(midi::makeMidiService(name));
    side->configure(local, remote);
    return side;
  }
  // Everything B plays must pass B's window thread: run the event loop until it has.
  bool synthGets(std::size_t count) {
    return waitFor([&] { return synth.received().size() >= count; }, 15000);
  }

  std::unique_ptr<Side> a, b;
  int portB = 0;
  std::uint64_t sentBefore = 0, receivedBefore = 0;
  JackKeyboard keyboard{"bridge-keyboard"};
  JackSynth synth{"bridge-synth"};
};

}  // namespace

TEST_F(Bridge, EveryShortMessageKindArrivesByteExactAndInOrder) {
  const std::vector<MidiBytes> played = {
      {0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x40}, {0xB0, 0x07, 0x7F}, {0xC5, 0x07},
      {0xD2, 0x30},       {0xE0, 0x00, 0x40}, {0xA1, 0x3C, 0x10}, {0xF8},
      {0xFE},             {0xFA},             {0xFB},             {0xFC},
      {0xF2, 0x10, 0x02}, {0xF3, 0x05},       {0xF1, 0x21},       {0xF6},
      {0x9F, 0x7F, 0x00}, {0xFF}};
  ASSERT_TRUE(keyboard.play(played));
  synthGets(played.size());
  settle(300);
  EXPECT_EQ(synth.received(), played);
  EXPECT_EQ(a->link.counts().sent - sentBefore, played.size());
  EXPECT_EQ(b->link.counts().received - receivedBefore, played.size());
  EXPECT_TRUE(a->boxes.boxes.isEmpty());
  EXPECT_TRUE(b->boxes.boxes.isEmpty());
}

TEST_F(Bridge, ABurstArrivesCompleteAndInOrder) {
  std::vector<MidiBytes> burst;
  for (int i = 0; i < 2000; ++i) {
    burst.push_back({std::uint8_t(0x90 | (i % 16)), std::uint8_t(i % 128), std::uint8_t(1 + i % 126)});
  }
  ASSERT_TRUE(keyboard.play(burst, 4));
  ASSERT_TRUE(synthGets(burst.size()));
  EXPECT_EQ(synth.received(), burst);
  EXPECT_FALSE(synth.overflowed());
}

TEST_F(Bridge, DatagramsFromAnywhereArePlayedAsTheirFirstThreeBytesWithZerosForMissingOnes) {
  RawPeer third(freePortPair());
  third.sendTo(portB, QByteArray());                                  // nothing, not counted
  third.sendTo(portB, QByteArray("\x90\x80\x40", 3));                 // data 1 of 128: dropped, counted
  third.sendTo(portB, QByteArray("\x90\x3c\x64\x80\x3c\x00", 6));     // only the first message
  third.sendTo(portB, QByteArray("\xc0\x05", 2));                     // two bytes: a program change
  third.sendTo(portB, QByteArray("\x91", 1));                         // a zero for each missing byte
  third.sendTo(portB, QByteArray("\x92\x3c", 2));
  third.sendTo(portB, QByteArray("\xf8", 1));
  ASSERT_TRUE(synthGets(5));
  settle(300);
  EXPECT_EQ(synth.received(), (std::vector<MidiBytes>{{0x90, 0x3C, 0x64}, {0xC0, 0x05}, {0x91, 0, 0}, {0x92, 0x3C, 0},
                                                      {0xF8}}));
  EXPECT_EQ(b->link.counts().received - receivedBefore, 6u);
  EXPECT_TRUE(b->boxes.boxes.isEmpty());
}

TEST_F(Bridge, StopDuringABurstIsHarmless) {
  std::vector<MidiBytes> burst(3000, MidiBytes{0xF8});
  ASSERT_TRUE(keyboard.play(burst, 8));
  waitFor([&] { return a->link.counts().sent > 100; });
  a->link.stop();
  const auto sentAtStop = a->link.counts().sent;
  keyboard.waitUntilPlayed();
  settle(200);
  EXPECT_EQ(a->link.counts().sent, sentAtStop);  // nothing after the input closed
  EXPECT_TRUE(a->boxes.boxes.isEmpty());
}
