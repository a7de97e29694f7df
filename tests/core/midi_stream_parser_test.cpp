// The MIDI byte-stream decoder against hand-written byte sequences: running status,
// real-time bytes inside other messages, SysEx in pieces, one parser per sender,
// garbage and the SysEx bound, and that parsing never allocates.
#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <new>
#include <random>
#include <vector>

#include "midi/midi_event.h"
#include "midi/midi_stream_parser.h"
#include "support/sysex_bytes.h"

using strandlink::midi::MidiEvent;
using strandlink::midi::MidiStreamParser;
using strandlink::midi::StreamCounters;
using Bytes = std::vector<std::uint8_t>;

// Counts this thread's allocations, so a test can tell that parsing makes none.
namespace {
thread_local std::size_t allocations = 0;
}
void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Every message the chunks finish, in order; each must be whole.
std::vector<Bytes> parse(MidiStreamParser& parser, std::initializer_list<Bytes> chunks) {
  std::vector<Bytes> out;
  for (const Bytes& chunk : chunks) {
    parser.feed(chunk, [&](std::span<const std::uint8_t> m) {
      EXPECT_TRUE(MidiEvent::fromBytes(m).wellFormed()) << "half-formed message of " << m.size() << " bytes";
      out.emplace_back(m.begin(), m.end());
    });
  }
  return out;
}

std::vector<Bytes> parse(std::initializer_list<Bytes> chunks) {
  MidiStreamParser parser;
  return parse(parser, chunks);
}

}  // namespace

TEST(MidiStreamParser, RunningStatusAcrossMessagesAndChunks) {
  // A note on, two more by running status (one split over two chunks), then two
  // program changes by running status.
  EXPECT_EQ(parse({{0x90, 0x3C, 0x64, 0x3E, 0x64, 0x40}, {0x00, 0xC0, 0x05, 0x06}}),
            (std::vector<Bytes>{
                {0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x64}, {0x90, 0x40, 0x00}, {0xC0, 0x05}, {0xC0, 0x06}}));
  // Real-time bytes leave running status in place.
  EXPECT_EQ(parse({{0x90, 0x3C, 0xF8, 0x64, 0x3E}, {0xF8, 0x64}}),
            (std::vector<Bytes>{{0xF8}, {0x90, 0x3C, 0x64}, {0xF8}, {0x90, 0x3E, 0x64}}));
  // A system common message and a SysEx cancel it: the data bytes after them are stray.
  MidiStreamParser parser;
  EXPECT_EQ(parse(parser, {{0x90, 0x3C, 0x64, 0xF3, 0x01, 0x3E, 0x64, 0xB0, 0x07, 0x64, 0xF0, 0x7E, 0xF7, 0x08, 0x09}}),
            (std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0xF3, 0x01}, {0xB0, 0x07, 0x64}, {0xF0, 0x7E, 0xF7}}));
  EXPECT_EQ(parser.counters().strayDataBytes, 4u);
  EXPECT_EQ(parser.counters().messages, 4u);
}

TEST(MidiStreamParser, RealTimeInsideSysExAndInsideAThreeByteMessage) {
  EXPECT_EQ(parse({{0xF0, 0x43, 0xF8, 0x12, 0xFE, 0x00, 0xF7}}),
            (std::vector<Bytes>{{0xF8}, {0xFE}, {0xF0, 0x43, 0x12, 0x00, 0xF7}}));
  EXPECT_EQ(parse({{0xB0, 0xF8, 0x07, 0xFA}, {0xFF, 0x64, 0xF6}}),
            (std::vector<Bytes>{{0xF8}, {0xFA}, {0xFF}, {0xB0, 0x07, 0x64}, {0xF6}}));
}

TEST(MidiStreamParser, SysExOverChunksAndAnyChunkingGivesTheSameMessages) {
  MidiStreamParser parser;
  EXPECT_TRUE(parse(parser, {{0xF0, 0x7D, 0x01, 0x02}}).empty());  // waits for its end
  EXPECT_EQ(parse(parser, {{0x03, 0x04, 0xF7, 0x90, 0x3C, 0x64}}),
            (std::vector<Bytes>{{0xF0, 0x7D, 0x01, 0x02, 0x03, 0x04, 0xF7}, {0x90, 0x3C, 0x64}}));

  const Bytes stream{0x90, 0x3C, 0x64, 0x3E, 0xF8, 0x00, 0xF0, 0x01, 0xFE, 0x02,
                     0xF7, 0xC1, 0x05, 0x06, 0xF1, 0x20, 0xF2, 0x01, 0x02};
  const auto whole = parse({stream});
  ASSERT_EQ(whole.size(), 9u);
  for (std::size_t cut = 1; cut < stream.size(); ++cut) {
    const Bytes head(stream.begin(), stream.begin() + cut), tail(stream.begin() + cut, stream.end());
    EXPECT_EQ(parse({head, tail}), whole) << "cut at " << cut;
  }
  MidiStreamParser bytewise;
  std::vector<Bytes> oneByOne;
  for (std::uint8_t b : stream) {
    const auto got = parse(bytewise, {{b}});
    oneByOne.insert(oneByOne.end(), got.begin(), got.end());
  }
  EXPECT_EQ(oneByOne, whole);
}

// Sender A's SysEx arrives in two datagrams with sender B's note between them.
TEST(MidiStreamParser, ASenderEachKeepsInterleavedSendersApart) {
  const Bytes aFirst{0xF0, 0x7D, 0x01, 0x02}, b{0x90, 0x3C, 0x64}, aSecond{0x03, 0xF7};
  MidiStreamParser fromA, fromB;
  EXPECT_TRUE(parse(fromA, {aFirst}).empty());
  EXPECT_EQ(parse(fromB, {b}), (std::vector<Bytes>{b}));
  EXPECT_EQ(parse(fromA, {aSecond}), (std::vector<Bytes>{{0xF0, 0x7D, 0x01, 0x02, 0x03, 0xF7}}));
  EXPECT_EQ(fromA.counters().dropped() + fromB.counters().dropped(), 0u);

  // Through one parser the mix is never passed on as a SysEx: the broken one is
  // dropped and counted, and B's note survives.
  MidiStreamParser shared;
  EXPECT_EQ(parse(shared, {aFirst, b, aSecond}), (std::vector<Bytes>{b}));
  EXPECT_EQ(shared.counters().cutShort, 2u);  // A's SysEx, and the note A's 03 began by running status
  EXPECT_EQ(shared.counters().strayEnds, 1u);
}

TEST(MidiStreamParser, GarbageIsDroppedAndCounted) {
  MidiStreamParser parser;
  const auto got = parse(parser, {{0x3C, 0x64, 0x90, 0x3C, 0x64},  // data with no status, then a note
                                  {0xF0, 0x01, 0x02, 0x80, 0x3C, 0x00},  // a SysEx broken off by a note off
                                  {0xF7, 0xF4, 0x3C, 0xF5},  // a stray end, undefined statuses, a stray data byte
                                  {0xE0, 0x01, 0xC0, 0x02},  // a pitch bend one byte short
                                  {0xF2, 0x01, 0xF6}});      // a song position one byte short
  EXPECT_EQ(got, (std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x00}, {0xC0, 0x02}, {0xF6}}));
  StreamCounters expected;
  expected.messages = 4;
  expected.strayDataBytes = 3;
  expected.cutShort = 3;
  expected.strayEnds = 1;
  expected.undefinedStatus = 2;
  EXPECT_EQ(parser.counters(), expected);

  // Random bytes: whatever comes out is whole (parse checks each), and every
  // message is counted.
  std::mt19937 random(21);
  MidiStreamParser noise(64);
  std::size_t delivered = 0;
  for (int i = 0; i < 2000; ++i) {
    Bytes chunk(random() % 40);
    for (auto& b : chunk) b = std::uint8_t(random() % 3 == 0 ? 0x80 | random() : random() % 0x80);
    delivered += parse(noise, {chunk}).size();
  }
  EXPECT_EQ(noise.counters().messages, delivered);
  EXPECT_GT(noise.counters().dropped(), 0u);
}

TEST(MidiStreamParser, SysExAboveTheBoundIsDroppedWholeAndParsingNeverAllocates) {
  MidiStreamParser parser(8);
  const Bytes fits{0xF0, 1, 2, 3, 4, 5, 6, 0xF7};
  std::size_t count = 0;
  std::span<const std::uint8_t> last;
  // Fits exactly; one byte too long (its tail must not turn into messages by a
  // running status from before it); too long and broken off by a note.
  const Bytes stream{0xF0, 1, 2, 3, 4, 5, 6, 0xF7, 0x90, 0x3C, 0x64, 0xF0, 1, 2, 3, 4, 5, 6, 7, 0xF7,
                     0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x80, 0x3C, 0x00};
  const std::size_t before = allocations;
  parser.feed(stream, [&](std::span<const std::uint8_t> m) {
    ++count;
    last = m;
  });
  EXPECT_EQ(allocations, before);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(Bytes(last.begin(), last.end()), (Bytes{0x80, 0x3C, 0x00}));
  EXPECT_EQ(parser.counters().oversizedSysEx, 2u);
  EXPECT_EQ(parser.counters().strayDataBytes + parser.counters().cutShort, 0u);
  EXPECT_EQ(parse(parser, {fits}), (std::vector<Bytes>{fits}));

  // The default keeps 64 KiB.
  MidiStreamParser roomy;
  const Bytes big = strandlink::test::sysExOf(MidiStreamParser::kDefaultMaxSysEx);
  EXPECT_EQ(parse(roomy, {Bytes(big.begin(), big.begin() + 1024), Bytes(big.begin() + 1024, big.end())}),
            (std::vector<Bytes>{big}));
}
