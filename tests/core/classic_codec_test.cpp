// The classic wire against golden bytes, both ways: every kind of MIDI datagram
// (plain, stamped, short, long, empty) and of chat-port datagram.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/classic/classic_codec.h"

using namespace strandlink;
using namespace strandlink::protocol::classic;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes wire(const MidiDatagram& d) { return {d.wire().begin(), d.wire().end()}; }

}  // namespace

TEST(ClassicCodec, MessagesBecomeThreeBytesOrSevenWithTheLowMicrosecondsLittleEndian) {
  EXPECT_EQ(wire(encodeMidi(midi::ShortMessage::withStatusSize(0x90, 0x3C, 0x40))), (Bytes{0x90, 0x3C, 0x40}));
  // Shorter messages fill the three bytes with zeros.
  EXPECT_EQ(wire(encodeMidi(midi::ShortMessage::withStatusSize(0xC2, 0x05))), (Bytes{0xC2, 0x05, 0x00}));
  EXPECT_EQ(wire(encodeMidi(midi::ShortMessage::withStatusSize(0xF8))), (Bytes{0xF8, 0x00, 0x00}));
  // Only the low 32 bits of the moment travel.
  EXPECT_EQ(wire(encodeMidi(midi::ShortMessage::withStatusSize(0xC0, 5), 0x1'2345'6789LL)),
            (Bytes{0xC0, 0x05, 0x00, 0x89, 0x67, 0x45, 0x23}));
  EXPECT_EQ(wire(encodeMidi(midi::ShortMessage::withStatusSize(0xB0, 7, 100), 0xFFFF'FFFFLL)),
            (Bytes{0xB0, 0x07, 0x64, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(ClassicCodec, ADatagramIsReadAsItsFirstThreeBytesAndOnlySevenCarryAMoment) {
  const auto read = [](const Bytes& d) { return decodeMidi(d); };
  const auto three = [](std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    return midi::ShortMessage{{a, b, c}, 3};
  };
  EXPECT_EQ(read({0x90, 0x3C, 0x40}).message, three(0x90, 0x3C, 0x40));
  EXPECT_FALSE(read({0x90, 0x3C, 0x40}).stamp);
  EXPECT_EQ(read({0x91}).message, three(0x91, 0, 0));
  EXPECT_EQ(read({0xC0, 0x05}).message, three(0xC0, 0x05, 0));
  EXPECT_EQ(read({}).message, three(0, 0, 0));
  const auto stamped = read({0xC0, 0x05, 0x00, 0x89, 0x67, 0x45, 0x23});
  EXPECT_EQ(stamped.message, three(0xC0, 0x05, 0));
  EXPECT_EQ(stamped.stamp, 0x23456789u);
  // Six or eight bytes: the first message only, no moment.
  for (const Bytes& d : {Bytes{0x90, 0x3C, 0x64, 0x80, 0x3C, 0x00}, Bytes{0x90, 0x3C, 0x64, 1, 2, 3, 4, 5}}) {
    EXPECT_EQ(read(d).message, three(0x90, 0x3C, 0x64)) << d.size();
    EXPECT_FALSE(read(d).stamp) << d.size();
  }
  // What is written is read back.
  const auto sent = midi::ShortMessage::withStatusSize(0xE1, 0x00, 0x7F);
  const auto back = decodeMidi(encodeMidi(sent, 0xABCD'0123'4567LL).wire());
  EXPECT_EQ(back.message, three(0xE1, 0x00, 0x7F));
  EXPECT_EQ(back.stamp, 0x01234567u);
}

TEST(ClassicCodec, OneByteOnTheChatPortIsAControlByteTwoOrMoreALine) {
  EXPECT_EQ(decodeChat(Bytes{}).kind, ChatDatagram::Kind::Empty);
  for (std::uint8_t byte : {std::uint8_t(0x01), std::uint8_t(0x02), std::uint8_t('x')}) {
    const auto c = decodeChat(Bytes{byte});
    EXPECT_TRUE(c.kind == ChatDatagram::Kind::Control && c.control == byte) << int(byte);
  }
  const Bytes line{'x', ' '};
  const auto c = decodeChat(line);
  EXPECT_EQ(c.kind, ChatDatagram::Kind::Line);
  EXPECT_EQ(Bytes(c.line.begin(), c.line.end()), line);
}
