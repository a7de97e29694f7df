// The message types from capture to output, and the lock-free queue that lets
// two threads play on one output without waiting for each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <thread>

#include "midi/midi_event.h"
#include "midi/short_message.h"
#include "midi/word_queue.h"
#include "support/sysex_bytes.h"

using strandlink::midi::ShortMessage;
using strandlink::midi::shortMessageLength;

TEST(ShortMessage, SizesPlayabilityAndTheBytesAnOutputSends) {
  const std::pair<int, int> lengths[] = {{0x00, 0}, {0x7F, 0}, {0x80, 3}, {0xAF, 3}, {0xBF, 3}, {0xC0, 2}, {0xDF, 2},
                                         {0xE0, 3}, {0xEF, 3}, {0xF0, 0}, {0xF1, 2}, {0xF2, 3}, {0xF3, 2}, {0xF4, 0},
                                         {0xF5, 0}, {0xF6, 1}, {0xF7, 0}, {0xF8, 1}, {0xFE, 1}, {0xFF, 1}};
  for (auto [status, length] : lengths) EXPECT_EQ(shortMessageLength(std::uint8_t(status)), length) << status;

  const std::uint8_t three[] = {0xC5, 0x07, 0xFF};
  const ShortMessage program = ShortMessage::fromBytes(three);
  EXPECT_EQ(program.size, 3);
  EXPECT_TRUE(program.playable());  // the byte it does not call for is not looked at
  EXPECT_EQ(program.wireBytes().size(), 2u);
  const std::uint8_t noteOn[] = {0x90, 0x3C, 0x64, 0x80, 0x3C};
  const ShortMessage first = ShortMessage::fromBytes(noteOn);  // only the first three bytes
  EXPECT_TRUE(first.size == 3 && first.bytes[2] == 0x64 && first.playable());
  const std::uint8_t clock[] = {0xF8};
  EXPECT_TRUE(ShortMessage::fromBytes(clock).playable());
  const std::uint8_t shortNote[] = {0x90, 0x3C};
  EXPECT_FALSE(ShortMessage::fromBytes(shortNote).playable());  // a data byte missing
  for (const ShortMessage& bad : {ShortMessage::withStatusSize(0x90, 0x80, 1), ShortMessage::withStatusSize(0x90, 1, 0x80),
                                  ShortMessage::withStatusSize(0xF0), ShortMessage::withStatusSize(0x40)})
    EXPECT_FALSE(bad.playable()) << int(bad.bytes[0]);
  // Data bytes the status does not call for are dropped.
  EXPECT_EQ(ShortMessage::withStatusSize(0xC3, 5, 9), ShortMessage::fromBytes(std::array<std::uint8_t, 2>{0xC3, 5}));
  EXPECT_EQ(ShortMessage::withStatusSize(0xFA, 5, 9).size, 1);
}

// Two producers at once, one consumer: nothing lost, nothing duplicated, each
// producer's words in its own order. No JACK needed; worth most under TSan.
TEST(WordQueue, TwoProducersLoseNothingAndKeepTheirOrder) {
  strandlink::midi::WordQueue<64> queue;
  constexpr std::uint32_t kEach = 100000;
  std::latch go(3);
  const auto produce = [&](std::uint32_t tag) {
    go.arrive_and_wait();
    for (std::uint32_t i = 0; i < kEach;) {
      if (queue.push(tag << 24 | i)) ++i;
    }
  };
  std::thread a(produce, 1u), b(produce, 2u);
  go.arrive_and_wait();
  std::uint32_t next[3] = {0, 0, 0};
  std::uint32_t word = 0;
  for (std::uint32_t taken = 0; taken < 2 * kEach;) {
    if (!queue.pop(word)) continue;
    ++taken;
    const std::uint32_t tag = word >> 24;
    ASSERT_TRUE(tag == 1 || tag == 2);
    ASSERT_EQ(word & 0xFFFFFF, next[tag]++) << "producer " << tag;
  }
  a.join();
  b.join();
  EXPECT_FALSE(queue.pop(word));
  EXPECT_FALSE(queue.ready());
}

TEST(MidiEvent, ShortMessagesSysExAndWhatIsWellFormed) {
  using strandlink::midi::MidiEvent;
  const MidiEvent program = MidiEvent::fromShort(ShortMessage::withStatusSize(0xC5, 7, 9));
  EXPECT_EQ(program.size(), 2u);
  EXPECT_TRUE(program.wellFormed());
  EXPECT_EQ(program.shortMessage(), ShortMessage::withStatusSize(0xC5, 7));

  const std::vector<std::uint8_t> dump = strandlink::test::sysExOf(1000);
  const MidiEvent sysex = MidiEvent::fromBytes(dump);
  EXPECT_TRUE(sysex.isSysEx() && sysex.wellFormed() && !sysex.shortMessage());
  EXPECT_TRUE(std::ranges::equal(sysex.bytes(), dump));
  const MidiEvent copy = sysex;
  EXPECT_EQ(copy, sysex);

  const std::uint8_t clock[] = {0xF8};
  EXPECT_TRUE(MidiEvent::fromBytes(clock).isRealTime());
  const std::vector<std::vector<std::uint8_t>> bad = {
      {}, {0x40}, {0x90, 0x3C}, {0x90, 0x3C, 0x64, 0x00}, {0x90, 0x80, 0x01}, {0xF0, 0x01}, {0xF0, 0x90, 0xF7}, {0xF7}};
  for (const auto& b : bad) EXPECT_FALSE(MidiEvent::fromBytes(b).wellFormed()) << b.size();
}
