// Network MIDI 2.0 commands and packets against words written out by hand from
// their layout, both ways, and datagrams that lie about their lengths.
#include <gtest/gtest.h>

#include "protocol/midi2/command_codec.h"
#include "protocol/midi2/stream_responder.h"
#include "protocol/midi2/ump_convert.h"

using namespace strandlink::protocol::midi2;
using Bytes = std::vector<std::uint8_t>;
using Words = std::vector<std::uint32_t>;

namespace {

Words umpsOf(const Bytes& midi) {
  Words out;
  EXPECT_TRUE(toUmp(strandlink::midi::MidiEventView(midi), [&](const Ump& u) {
    out.insert(out.end(), u.view().begin(), u.view().end());
  }));
  return out;
}

std::vector<Bytes> midiOf(UmpReader& reader, const Words& words) {
  std::vector<Bytes> out;
  reader.read(words, [&](std::span<const std::uint8_t> m) { out.emplace_back(m.begin(), m.end()); },
              [](std::span<const std::uint32_t, 4>) {});
  return out;
}

}  // namespace

TEST(Midi2Codec, CommandsBothWays) {
  Bytes d;
  beginDatagram(d);
  // A 16-byte name takes exactly four words; the id is padded to whole words.
  appendInvitation(d, CommandCode::Invitation, {"0123456789abcdef", "ab1"});
  appendNak(d, NakReason::NotSupported, 0x55001234);
  appendUmpData(d, 0xFFFE, Words{0x20903C64});
  const Bytes golden{'M', 'I', 'D', 'I', 0x01, 5, 4, 0, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b',
                     'c', 'd', 'e', 'f', 'a', 'b', '1', 0, 0x8F, 1, 1, 0, 0x55, 0, 0x12, 0x34, 0xFF, 1, 0xFF, 0xFE,
                     0x20, 0x90, 0x3C, 0x64};
  EXPECT_EQ(d, golden);
  std::vector<Command> commands;
  ASSERT_EQ(readDatagram(d, commands), DatagramError::None);
  ASSERT_EQ(commands.size(), 3u);
  Identity who;
  ASSERT_TRUE(readIdentity(commands[0], who));
  EXPECT_EQ(who, (Identity{"0123456789abcdef", "ab1"}));
  EXPECT_EQ(commands[1].header(), 0x8F010100u);
  EXPECT_EQ(commands[1].word(0), 0x55001234u);
  EXPECT_EQ(commands[2].data(), 0xFFFE);
  EXPECT_EQ(commands[2].word(0), 0x20903C64u);
  // A padded name is cut at its NUL; a name length past the payload is refused.
  const Bytes padded{'M', 'I', 'D', 'I', 0x10, 2, 2, 0, 'h', 'o', 's', 't', 0, 0, 0, 0};
  ASSERT_EQ(readDatagram(padded, commands), DatagramError::None);
  ASSERT_TRUE(readIdentity(commands[0], who));
  EXPECT_EQ(who, (Identity{"host", ""}));
  const Bytes lying{'M', 'I', 'D', 'I', 0x10, 1, 2, 0, 'h', 'o', 's', 't'};
  ASSERT_EQ(readDatagram(lying, commands), DatagramError::None);
  EXPECT_FALSE(readIdentity(commands[0], who));
}

TEST(Midi2Codec, DatagramsThatLieAreCutWhereTheyStopBeingTrue) {
  std::vector<Command> commands;
  EXPECT_EQ(readDatagram(Bytes{'M', 'I', 'D', 'X'}, commands), DatagramError::NoSignature);
  EXPECT_EQ(readDatagram(Bytes{'M', 'I', 'D', 'I', 0x20, 0}, commands), DatagramError::NotWords);
  // A ping, then a command claiming two words of which one is there.
  const Bytes past{'M', 'I', 'D', 'I', 0x20, 1, 0, 0, 1, 2, 3, 4, 0xFF, 2, 0, 0, 1, 2, 3, 4};
  EXPECT_EQ(readDatagram(past, commands), DatagramError::LengthPastEnd);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].word(0), 0x01020304u);
  EXPECT_EQ(sequenceDistance(0xFFFF, 0x0001), 2);
  EXPECT_EQ(sequenceDistance(0x0001, 0xFFFF), -2);
}

TEST(Midi2Codec, Midi1ToPacketsAndBack) {
  const std::vector<std::pair<Bytes, Words>> golden = {
      {{0x93, 0x3C, 0x64}, {0x20933C64}},
      {{0xC1, 0x05}, {0x20C10500}},
      {{0xF8}, {0x10F80000}},
      {{0xF2, 0x10, 0x20}, {0x10F21020}},
      {{0xF0, 0xF7}, {0x30000000, 0}},
      {{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7}, {0x30160102, 0x03040506, 0x30320708, 0}},
      {{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 0xF7},
       {0x30160102, 0x03040506, 0x30260708, 0x090A0B0C, 0x30310D00, 0}},
  };
  for (const auto& [midi, words] : golden) {
    EXPECT_EQ(umpsOf(midi), words);
    UmpReader reader;
    EXPECT_EQ(midiOf(reader, words), std::vector<Bytes>{midi});
  }
}

TEST(Midi2Codec, PacketsWeCannotPlayAreCountedNotPlayed) {
  UmpReader reader(12);
  // Group 1; a SysEx continued with no start; a SysEx longer than kept; a cut packet.
  EXPECT_TRUE(midiOf(reader, {0x21903C64, 0x30220708, 0}).empty());
  EXPECT_TRUE(midiOf(reader, {0x30160102, 0x03040506, 0x30260708, 0x090A0B0C, 0x30310D00, 0}).empty());
  EXPECT_TRUE(midiOf(reader, {0x40903C00}).empty());
  const UmpCounters& c = reader.counters();
  EXPECT_EQ(c.otherGroups, 1u);
  EXPECT_EQ(c.brokenSysEx, 2u);
  EXPECT_EQ(c.cutPackets, 1u);
  EXPECT_EQ(c.messages, 0u);
}

TEST(Midi2Codec, Midi2ChannelVoiceScaledDown) {
  UmpReader reader;
  const std::vector<std::pair<Words, std::vector<Bytes>>> cases = {
      {{0x40913C00, 0x01000000}, {{0x91, 0x3C, 1}}},        // the least velocity is still a note-on
      {{0x40813C00, 0xFFFF0000}, {{0x81, 0x3C, 0x7F}}},
      {{0x40B20700, 0x80000000}, {{0xB2, 7, 0x40}}},
      {{0x40E00000, 0x80000000}, {{0xE0, 0x00, 0x40}}},      // the centre
      {{0x40D30000, 0xFE000000}, {{0xD3, 0x7F}}},
      {{0x40C00001, 0x05000102}, {{0xB0, 0, 1}, {0xB0, 32, 2}, {0xC0, 5}}},
      {{0x40200102, 0x80000000}, {{0xB0, 101, 1}, {0xB0, 100, 2}, {0xB0, 6, 0x40}, {0xB0, 38, 0}}},
      {{0x40F03C00, 0}, {}},                                  // per-note management has no MIDI 1.0 form
  };
  for (const auto& [words, midi] : cases) EXPECT_EQ(midiOf(reader, words), midi);
}

TEST(Midi2Codec, DiscoveryIsAnswered) {
  const EndpointDescription us{"Strandlink studio", "abc"};
  const std::array<std::uint32_t, 4> discovery{0xF0000101, 0x1F, 0, 0};
  const auto answer = answerStream(discovery, us);
  // Info, identity, name in two pieces, id, configuration.
  ASSERT_EQ(answer.size(), 6u);
  EXPECT_EQ(answer[0], (StreamPacket{0xF0010101, 0x81000100, 0, 0}));
  EXPECT_EQ(answer[2], (StreamPacket{0xF4035374, 0x72616E64, 0x6C696E6B, 0x20737475}));  // "Strandlink stu"
  EXPECT_EQ(answer[3], (StreamPacket{0xFC036469, 0x6F000000, 0, 0}));                    // "dio"
  EXPECT_EQ(answer[4], (StreamPacket{0xF0046162, 0x63000000, 0, 0}));
  EXPECT_EQ(answer[5], (StreamPacket{0xF0060100, 0, 0, 0}));
  const std::array<std::uint32_t, 4> blocks{0xF010FF03, 0, 0, 0};
  const auto block = answerStream(blocks, {"ab", ""});
  ASSERT_EQ(block.size(), 2u);
  EXPECT_EQ(block[0], (StreamPacket{0xF0118037, 0x00010000, 0, 0}));
  EXPECT_EQ(block[1], (StreamPacket{0xF0120061, 0x62000000, 0, 0}));
}
