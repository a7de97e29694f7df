// The RTP-MIDI codec against packets written out by hand from RFC 6295's figures
// (command section header, delta times, running status, SysEx segments) and from
// the layout of Apple's session packets, both ways, and against broken packets.
#include <gtest/gtest.h>

#include <numeric>

#include "protocol/rtp/delta_time.h"
#include "protocol/rtp/midi_packet.h"
#include "protocol/rtp/packet_encoder.h"
#include "protocol/rtp/session_packet.h"
#include "protocol/rtp/sysex_assembler.h"

using namespace strandlink::protocol::rtp;
using strandlink::midi::MidiEvent;
using Bytes = std::vector<std::uint8_t>;

namespace {

MidiEvent event(Bytes bytes) { return MidiEvent::fromBytes(bytes); }

Bytes rtpHeader(std::uint8_t flags = 0x80) { return {flags, 0x61, 0x12, 0x34, 0, 1, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD}; }

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<Bytes> commandBytes(const MidiPacket& packet) {
  std::vector<Bytes> out;
  for (const TimedCommand& c : packet.commands) out.emplace_back(c.bytes.bytes().begin(), c.bytes.bytes().end());
  return out;
}

}  // namespace

TEST(RtpDeltaTime, EncodingsOfTheFourFormsAndTheirLimits) {
  const std::pair<std::uint32_t, Bytes> golden[] = {
      {0, {0x00}},           {0x7F, {0x7F}},        {0x80, {0x81, 0x00}}, {200, {0x81, 0x48}},
      {0x3FFF, {0xFF, 0x7F}}, {0x4000, {0x81, 0x80, 0x00}}, {0x200000, {0x81, 0x80, 0x80, 0x00}},
      {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}}};
  for (const auto& [ticks, bytes] : golden) {
    Bytes out;
    appendDeltaTime(out, ticks);
    EXPECT_EQ(out, bytes) << ticks;
    ByteReader in(bytes);
    std::uint32_t back = 1;
    EXPECT_EQ(readDeltaTime(in, back), DecodeError::None);
    EXPECT_EQ(back, ticks);
  }
  // The four legal ways to code zero; a fifth octet and a cut-off one are errors.
  for (const Bytes& zero : {Bytes{0x00}, Bytes{0x80, 0x00}, Bytes{0x80, 0x80, 0x00}, Bytes{0x80, 0x80, 0x80, 0x00}}) {
    ByteReader in(zero);
    std::uint32_t ticks = 1;
    EXPECT_EQ(readDeltaTime(in, ticks), DecodeError::None);
    EXPECT_EQ(ticks, 0u);
    EXPECT_EQ(in.remaining(), 0u);
  }
  const Bytes five{0x80, 0x80, 0x80, 0x80, 0x00}, cut{0x81, 0x80};
  std::uint32_t ticks = 0;
  ByteReader tooLong(five), truncated(cut);
  EXPECT_EQ(readDeltaTime(tooLong, ticks), DecodeError::BadDeltaTime);
  EXPECT_EQ(readDeltaTime(truncated, ticks), DecodeError::Truncated);
}

TEST(RtpMidiPacket, EncodesSeveralCommandsWithDeltaTimesInOnePacket) {
  PacketEncoder encoder(0xAABBCCDD, 0x1234);
  const TimedEvent events[] = {{0, event({0x90, 0x3C, 0x64})}, {200, event({0x80, 0x3C, 0x00})}, {200, event({0xF8})},
                               {201, event({0x90, 0x80})}};  // not playable: left out
  const auto packets = encoder.encode(0x10000, events);
  ASSERT_EQ(packets.size(), 1u);
  // Z = 0: the first command at the packet's timestamp; full status bytes, short header.
  EXPECT_EQ(packets[0], concat(rtpHeader(), {0x0A, 0x90, 0x3C, 0x64, 0x81, 0x48, 0x80, 0x3C, 0x00, 0x00, 0xF8}));
  EXPECT_EQ(encoder.nextSequence(), 0x1235);
  // A lone real-time byte goes after a delta time (Z = 1): some peers read no
  // command from a list of one octet.
  const TimedEvent clock[] = {{0, event({0xF8})}};
  const auto alone = encoder.encode(0x10000, clock);
  ASSERT_EQ(alone.size(), 1u);
  EXPECT_EQ(Bytes(alone[0].begin() + 12, alone[0].end()), (Bytes{0x22, 0x00, 0xF8}));
}

TEST(RtpMidiPacket, DecodesRunningStatusDeltaTimesAndSystemCommands) {
  // Z and P set: a delta time before the first command, whose status the source lacked.
  const Bytes list{0x05, 0x90, 0x3C, 0x64, 0x0A, 0x3E, 0x70,  // running status
                   0x00, 0xF8,                                // real-time: keeps it
                   0x00, 0x40, 0x00, 0x01, 0xF3, 0x05,        // system common: clears it
                   0x81, 0x00};                               // a delta time that closes the list
  MidiPacket packet;
  ASSERT_EQ(decodeMidiPacket(concat(rtpHeader(), concat({0x80 | 0x30, std::uint8_t(list.size())}, list)), packet),
            DecodeError::None);
  EXPECT_EQ(packet.header.sequence, 0x1234);
  EXPECT_EQ(packet.header.timestamp, 0x10000u);
  EXPECT_EQ(packet.header.ssrc, 0xAABBCCDDu);
  EXPECT_TRUE(packet.phantomStatus);
  EXPECT_EQ(commandBytes(packet),
            (std::vector<Bytes>{{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x70}, {0xF8}, {0x90, 0x40, 0x00}, {0xF3, 0x05}}));
  std::vector<std::uint32_t> offsets;
  for (const auto& c : packet.commands) offsets.push_back(c.offset);
  EXPECT_EQ(offsets, (std::vector<std::uint32_t>{5, 15, 15, 15, 16}));

  // A long header: the 12-bit length's top four bits in the first octet (0x123 octets).
  Bytes longList{0xF8};
  for (int i = 0; i < 145; ++i) longList.insert(longList.end(), {0x00, 0xF8});
  ASSERT_EQ(decodeMidiPacket(concat(rtpHeader(), concat({0x81, 0x23}, longList)), packet), DecodeError::None);
  EXPECT_EQ(packet.commands.size(), 146u);
}

// The journal's own bytes are the journal tests' (rtp_journal_test); here, that a
// packet hands its journal over beside its commands, and fails whole when it is cut.
TEST(RtpMidiPacket, ReadsTheJournalAfterTheCommandsAndRefusesOneCutShort) {
  const Bytes section{0x43, 0x90, 0x3C, 0x64};  // J set
  const Bytes journal{0x61, 0x12, 0x33, 0x00, 0x04, 0xAA, 0xBB, 0x00, 0x05, 0x10, 0x01, 0x02, 0x08, 0x03, 0x00};
  MidiPacket packet;
  ASSERT_EQ(decodeMidiPacket(concat(concat(rtpHeader(), section), journal), packet), DecodeError::None);
  EXPECT_EQ(commandBytes(packet), (std::vector<Bytes>{{0x90, 0x3C, 0x64}}));
  ASSERT_TRUE(packet.journal);
  EXPECT_EQ(packet.journal->checkpoint, 0x1233);
  ASSERT_EQ(packet.journal->channels.size(), 2u);
  EXPECT_EQ(packet.journal->channels[0].pitchWheel->value, 0x0101);
  Bytes cut = concat(concat(rtpHeader(), section), journal);
  cut.pop_back();
  EXPECT_EQ(decodeMidiPacket(cut, packet), DecodeError::Truncated);
}

TEST(RtpMidiPacket, BrokenPacketsGiveTheirError) {
  const std::pair<Bytes, DecodeError> cases[] = {
      {{0x80, 0x61, 0, 1}, DecodeError::Truncated},
      {concat(rtpHeader(0x40), {0x00}), DecodeError::BadRtpVersion},
      {concat(rtpHeader(0xA0), {0x00, 0x09}), DecodeError::BadPadding},
      {rtpHeader(), DecodeError::Truncated},                                       // no section header
      {concat(rtpHeader(), {0x84, 0x00, 0x90}), DecodeError::Truncated},            // long LEN past the end
      {concat(rtpHeader(), {0x04, 0x90, 0x3C, 0x64}), DecodeError::Truncated},       // LEN past the end
      {concat(rtpHeader(), {0x02, 0x90, 0x3C}), DecodeError::Truncated},             // command cut short
      {concat(rtpHeader(), {0x02, 0x3C, 0x64}), DecodeError::MissingStatus},
      {concat(rtpHeader(), {0x04, 0xF3, 0x01, 0x00, 0x40}), DecodeError::MissingStatus},  // cleared
      {concat(rtpHeader(), {0x03, 0x90, 0x3C, 0xF8}), DecodeError::BadCommand},      // real-time inside
      {concat(rtpHeader(), {0x04, 0xF0, 0x01, 0xF4, 0x00}), DecodeError::BadSysExSegment},
      {concat(rtpHeader(), {0x03, 0xF7, 0x01, 0xF4}), DecodeError::BadSysExSegment},  // cancel with data
      {concat(rtpHeader(), {0x03, 0xF0, 0x01, 0x02}), DecodeError::Truncated},        // SysEx without a tail
      {concat(rtpHeader(), {0x25, 0x80, 0x80, 0x80, 0x80, 0x00}), DecodeError::BadDeltaTime},
  };
  for (const auto& [bytes, error] : cases) {
    MidiPacket packet;
    EXPECT_EQ(decodeMidiPacket(bytes, packet), error) << int(error);
  }
}

namespace {

Bytes sysEx(std::uint8_t first, std::uint8_t last) {
  Bytes bytes{0xF0};
  for (int b = first; b <= last; ++b) bytes.push_back(std::uint8_t(b));
  bytes.push_back(0xF7);
  return bytes;
}

// Decodes each packet's list and feeds its commands to one assembler.
std::vector<Bytes> assemble(const std::vector<Bytes>& lists, SysExAssembler& assembler) {
  std::vector<Bytes> out;
  for (const Bytes& list : lists) {
    MidiPacket packet;
    EXPECT_EQ(decodeMidiPacket(concat(rtpHeader(), concat({0x80, std::uint8_t(list.size())}, list)), packet),
              DecodeError::None);
    for (const TimedCommand& c : packet.commands)
      if (auto whole = assembler.push(c.bytes)) out.emplace_back(whole->bytes().begin(), whole->bytes().end());
  }
  return out;
}

}  // namespace

TEST(RtpSysEx, SegmentsOfTheRfcExamplesComeBackWhole) {
  const Bytes original = sysEx(1, 8);
  const std::vector<std::vector<Bytes>> segmentations = {
      {{0xF0, 1, 2, 3, 4, 0xF0}, {0xF7, 5, 6, 7, 8, 0xF7}},
      {{0xF0, 1, 0xF0}, {0xF7, 2, 3, 4, 5, 6, 7, 8, 0xF7}},
      {{0xF0, 1, 2, 0xF0}, {0xF7, 3, 4, 0xF0}, {0xF7, 5, 6, 7, 8, 0xF7}},
      {{0xF0, 1, 0xF0}, {0xF7, 2, 0xF0}, {0xF7, 3, 0xF0}, {0xF7, 4, 0xF0}, {0xF7, 5, 0xF0}, {0xF7, 6, 0xF0},
       {0xF7, 7, 0xF0}, {0xF7, 8, 0xF0}, {0xF7, 0xF7}},
  };
  for (const auto& segments : segmentations) {
    SysExAssembler assembler;
    // Each segment in a packet of its own, a clock byte between (allowed there).
    std::vector<Bytes> lists;
    for (const Bytes& s : segments) lists.push_back(concat({0xF8, 0x00}, s));
    const auto out = assemble(lists, assembler);
    ASSERT_EQ(out.size(), segments.size() + 1);
    EXPECT_EQ(out.back(), original);
    EXPECT_EQ(out.front(), Bytes{0xF8});  // real-time passes at once
  }
}

TEST(RtpSysEx, CancelledLostAndInterruptedSegmentsAreDropped) {
  SysExAssembler assembler;
  // Cancelled after the first, then a whole one in the same list; an F5 tail is a dropped F7.
  EXPECT_EQ(assemble({{0xF0, 1, 2, 0xF0, 0x00, 0xF7, 0xF4, 0x00, 0xF0, 3, 0xF5}}, assembler),
            (std::vector<Bytes>{{0xF0, 3, 0xF7}}));
  EXPECT_EQ(assembler.cancelled(), 1u);
  // A middle and a last whose first never came.
  EXPECT_TRUE(assemble({{0xF7, 4, 0xF0}, {0xF7, 5, 0xF7}}, assembler).empty());
  // A channel message between segments ends the SysEx; the message itself passes.
  EXPECT_EQ(assemble({{0xF0, 6, 0xF0, 0x00, 0xC0, 0x05}, {0xF7, 7, 0xF7}}, assembler),
            (std::vector<Bytes>{{0xC0, 0x05}}));
  // A packet lost between segments.
  assemble({{0xF0, 8, 0xF0}}, assembler);
  assembler.reset();
  EXPECT_TRUE(assemble({{0xF7, 9, 0xF7}}, assembler).empty());
  EXPECT_EQ(assembler.dropped(), 5u);  // with the orphaned last segments
  // Larger than the bound.
  SysExAssembler small(8);
  EXPECT_TRUE(assemble({{0xF0, 1, 2, 3, 0xF0}, {0xF7, 4, 5, 6, 0xF0}, {0xF7, 7, 0xF7}}, small).empty());
  EXPECT_EQ(assemble({{0xF0, 1, 2, 3, 4, 5, 6, 0xF7}}, small), (std::vector<Bytes>{sysEx(1, 6)}));
}

