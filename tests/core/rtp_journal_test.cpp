// The recovery journal: its bytes against golden bytes written by hand from the
// chapter layouts (both directions), the sender's history and checkpoint, and the
// receiver's repair after a gap.
#include <gtest/gtest.h>

#include "protocol/rtp/journal_codec.h"
#include "protocol/rtp/journal_repair.h"
#include "protocol/rtp/journal_sender.h"
#include "protocol/rtp/packet_encoder.h"

using namespace strandlink::protocol::rtp;
using strandlink::midi::MidiEvent;
using Bytes = std::vector<std::uint8_t>;

namespace {

ChannelJournal onChannel(std::uint8_t channel) {
  ChannelJournal c;
  c.channel = channel;
  return c;
}

RecoveryJournal journalOf(std::uint16_t checkpoint, std::vector<ChannelJournal> channels) {
  RecoveryJournal j;
  j.checkpoint = checkpoint;
  j.channels = std::move(channels);
  return j;
}

ParameterValue parameter(bool nonRegistered, std::uint16_t number, std::optional<std::uint8_t> msb,
                         std::optional<std::uint8_t> lsb = std::nullopt) {
  ParameterValue p;
  p.nonRegistered = nonRegistered, p.number = number, p.entryMsb = msb, p.entryLsb = lsb;
  return p;
}

struct Golden {
  const char* what;
  RecoveryJournal journal;
  Bytes bytes;
};

std::vector<Golden> goldens() {
  std::vector<Golden> g;
  g.push_back({"empty history", journalOf(0x1234, {}), {0x80, 0x12, 0x34}});
  ChannelJournal program = onChannel(3);
  program.program = ProgramState{5, 1, 2, false};
  g.push_back({"program with bank", journalOf(0x0102, {program}), {0xA0, 0x01, 0x02, 0x98, 0x06, 0x80, 0x85, 0x81, 0x02}});
  ChannelJournal controllers = onChannel(0);
  controllers.controllers = {{7, 100, false}, {64, 127, true}};  // the pedal came in the packet just before
  g.push_back({"controllers, one recent", journalOf(5, {controllers}),
               {0x20, 0x00, 0x05, 0x00, 0x08, 0x40, 0x01, 0x87, 0x64, 0x40, 0x7F}});
  ChannelJournal parameters = onChannel(1);
  parameters.parameters = {parameter(true, 0x101, 64, 0), parameter(false, 0, 2)};
  g.push_back({"NRPN and RPN", journalOf(0, {parameters}),
               {0xA0, 0x00, 0x00, 0x88, 0x0E, 0x20, 0x80, 0x0B, 0x81, 0x82, 0xC0, 0x40, 0x00, 0x80, 0x00, 0x80, 0x02}});
  ChannelJournal pending = onChannel(1);
  pending.pendingParameter = PendingParameter{true, 1, false};  // an NRPN MSB without its LSB yet
  g.push_back({"half a parameter number", journalOf(0, {pending}), {0xA0, 0x00, 0x00, 0x88, 0x06, 0x20, 0xC0, 0x03, 0x81}});
  ChannelJournal wheel = onChannel(15);
  wheel.pitchWheel = RecentValue<std::uint16_t>{0x1234, false};
  wheel.channelPressure = RecentValue<std::uint8_t>{90, false};
  wheel.notePressures = {{60, 33, false}};
  g.push_back({"wheel and pressures", journalOf(0xFFFF, {wheel}),
               {0xA0, 0xFF, 0xFF, 0xF8, 0x09, 0x13, 0xB4, 0x24, 0xDA, 0x80, 0xBC, 0x21}});
  ChannelJournal notes = onChannel(9);
  notes.notesOn = {{60, 100, true, false}};
  notes.notesOff.set(62), notes.notesOff.set(64);
  g.push_back({"note log and off bits", journalOf(7, {notes}),
               {0xA0, 0x00, 0x07, 0xC8, 0x09, 0x08, 0x81, 0x78, 0xBC, 0xE4, 0x02, 0x80}});
  ChannelJournal held = onChannel(0);
  held.notesOn = {{61, 1, false, false}};
  ChannelJournal second = onChannel(1);
  second.pitchWheel = RecentValue<std::uint16_t>{0x2000, false};
  g.push_back({"no off bits, two channels", journalOf(0, {held, second}),
               {0xA1, 0x00, 0x00, 0x80, 0x07, 0x08, 0x81, 0xF0, 0xBD, 0x01, 0x88, 0x05, 0x10, 0x80, 0x40}});
  return g;
}

TEST(RtpJournalCodec, ChaptersMatchGoldenBytesBothWays) {
  for (const Golden& g : goldens()) {
    SCOPED_TRACE(g.what);
    Bytes encoded;
    ASSERT_TRUE(encodeJournal(g.journal, encoded));
    EXPECT_EQ(encoded, g.bytes);
    ByteReader in(g.bytes);
    RecoveryJournal decoded;
    ASSERT_EQ(decodeJournal(in, decoded), DecodeError::None);
    EXPECT_EQ(decoded, g.journal);
    EXPECT_EQ(in.remaining(), 0u);
  }
}

// A peer's journal with parts this side does not apply: a system part, note
// extras, a toggled controller, and a channel whose chapter runs past its length.
TEST(RtpJournalCodec, ReadsPastWhatItDoesNotApplyAndStopsAtBadLengths) {
  const Bytes peer = {0xE1, 0x00, 0x09,                    // S Y A, two channels
                      0xC0, 0x04, 0x00, 0x00,              // system part, read past
                      0x98, 0x04, 0x10, 0x81,              // channel 3: a wheel cut short
                      0x90, 0x0C, 0x46,                    // channel 2: controllers, note extras, pressure
                      0x81, 0x87, 0xC5, 0x8A, 0x32,        // a toggle (skipped) and 10 = 50
                      0x80, 0xBC, 0x81,                    // note extras
                      0xA0};                               // channel pressure 32
  ByteReader in(peer);
  RecoveryJournal j;
  ASSERT_EQ(decodeJournal(in, j), DecodeError::None);
  EXPECT_TRUE(j.hadSystemJournal);
  ASSERT_EQ(j.channels.size(), 2u);
  EXPECT_FALSE(j.channels[0].complete);
  EXPECT_FALSE(j.channels[0].pitchWheel);
  EXPECT_EQ(j.channels[1].controllers, (std::vector<ControllerValue>{{10, 50, false}}));
  EXPECT_EQ(j.channels[1].channelPressure, (RecentValue<std::uint8_t>{32, false}));
  EXPECT_TRUE(j.channels[1].complete);

  const std::pair<Bytes, DecodeError> broken[] = {
      {{0xA0, 0x00}, DecodeError::Truncated},                          // header cut short
      {{0xA0, 0x00, 0x00, 0x80, 0x09, 0x10, 0x80}, DecodeError::Truncated},  // channel longer than the rest
      {{0xA0, 0x00, 0x00, 0x80, 0x02, 0x00}, DecodeError::BadJournal},  // shorter than its own header
      {{0xC0, 0x00, 0x00, 0x00, 0x01}, DecodeError::BadJournal},        // system part shorter than its header
  };
  for (const auto& [bytes, error] : broken) {
    ByteReader r(bytes);
    EXPECT_EQ(decodeJournal(r, j), error);
  }
}

Bytes packetWith(std::uint16_t sequence, std::vector<Bytes> messages) {
  std::vector<TimedEvent> events;
  for (const Bytes& m : messages) events.push_back({0, MidiEvent::fromBytes(m)});
  PacketEncoder encoder(7, sequence);
  auto packets = encoder.encode(0, events);
  return packets.empty() ? Bytes{} : packets.front();
}

RecoveryJournal journalIn(const Bytes& packet) {
  MidiPacket decoded;
  EXPECT_EQ(decodeMidiPacket(packet, decoded), DecodeError::None);
  EXPECT_TRUE(decoded.journal);
  return decoded.journal.value_or(RecoveryJournal{});
}

// Across the wrap of the sequence number: the history since the checkpoint, what
// the feedback takes out of it, and note-ons marked to sound late only while recent.
TEST(RtpJournalSender, HistorySinceTheCheckpointAndFeedbackThatShrinksIt) {
  JournalSender sender(100);
  Bytes p = packetWith(65534, {{0x90, 60, 90}});
  ASSERT_TRUE(sender.attach(p, 0));
  EXPECT_EQ(journalIn(p), journalOf(65534, {}));  // nothing before it

  p = packetWith(65535, {{0xB0, 7, 90}});
  ASSERT_TRUE(sender.attach(p, 10));
  ChannelJournal expected = onChannel(0);
  expected.notesOn = {{60, 90, true, true}};
  EXPECT_EQ(journalIn(p), journalOf(65534, {expected}));

  p = packetWith(0, {{0x80, 60, 0}, {0xC0, 3}});
  ASSERT_TRUE(sender.attach(p, 500));  // the note-on is old now: not to be played late
  expected.notesOn = {{60, 90, false, false}};
  expected.controllers = {{7, 90, true}};
  EXPECT_EQ(journalIn(p), journalOf(65534, {expected}));

  sender.receiverHas(65535);
  sender.receiverHas(5);  // never sent: ignored
  ChannelJournal after = onChannel(0);
  after.notesOff.set(60), after.notesOffRecent = true;
  after.program = ProgramState{3, std::nullopt, std::nullopt, true};
  EXPECT_EQ(sender.journalFor(1, 600), journalOf(0, {after}));
  sender.receiverHas(0);
  EXPECT_EQ(sender.journalFor(1, 600), journalOf(1, {}));

  // No feedback at all: the history still ends, at the first packet of the last second.
  JournalSender unheard(100, 1000);
  for (auto [sequence, ms, message] : {std::tuple{10, 0, Bytes{0x90, 60, 90}}, {11, 2500, {0xB0, 7, 90}}, {12, 4000, {0xB0, 10, 1}}}) {
    p = packetWith(std::uint16_t(sequence), {message});
    ASSERT_TRUE(unheard.attach(p, ms));
  }
  ChannelJournal lastSecond = onChannel(0);
  lastSecond.controllers = {{7, 90, false}, {10, 1, true}};
  EXPECT_EQ(unheard.journalFor(13, 4000), journalOf(11, {lastSecond}));

  // Reset All Controllers: the values it puts back are journaled as values, so that a
  // receiver that lost the reset gets them even without replaying it.
  JournalSender resetting;
  p = packetWith(100, {{0xE0, 0, 0x50}, {0xB0, 11, 40}});
  ASSERT_TRUE(resetting.attach(p, 0));
  p = packetWith(101, {{0xB0, 121, 0}});
  ASSERT_TRUE(resetting.attach(p, 0));
  resetting.receiverHas(100);
  ChannelJournal reset = onChannel(0);
  reset.controllers = {{1, 0, true}, {11, 127, true}, {64, 0, true}, {65, 0, true}, {66, 0, true}, {67, 0, true}};
  reset.parameters = {parameter(false, 0x3FFF, std::nullopt)};
  reset.parameters[0].recent = true;
  reset.pitchWheel = RecentValue<std::uint16_t>{0x2000, true};
  reset.channelPressure = RecentValue<std::uint8_t>{0, true};
  EXPECT_EQ(resetting.journalFor(102, 0), journalOf(101, {reset}));
}

// 640 note-ons at once on 16 channels, so that the journal grows past the payload
// bound: the packets leave room for it while it fits, go larger rather than without
// it once it alone does not, and a receiver that loses every other one (and gets a
// guard packet) has every note sounding.
TEST(RtpJournalSender, PacketsLeaveRoomForTheirJournalAndCarryOneTooLargeForThem) {
  std::vector<TimedEvent> events;
  for (int i = 0; i < 640; ++i) events.push_back({0, MidiEvent::fromBytes(Bytes{std::uint8_t(0x90 | i % 16), std::uint8_t(i / 16), 9})});
  for (int k = 0; k < 500; ++k)  // and 500 NRPNs on channel 0: more than its part of a journal can list
    for (const Bytes& m : {Bytes{0xB0, 99, std::uint8_t(k >> 7)}, Bytes{0xB0, 98, std::uint8_t(k & 127)}, Bytes{0xB0, 6, 1}})
      events.push_back({0, MidiEvent::fromBytes(m)});
  JournalSender sender;
  JournalRepair receiver;
  PacketEncoder encoder(7, 0);
  std::size_t messages = 0, larger = 0;
  const auto arrive = [&](const Bytes& p) {
    MidiPacket d;
    ASSERT_EQ(decodeMidiPacket(p, d), DecodeError::None);
    messages += d.commands.size();
    if (d.header.sequence % 2) return;  // lost
    (void)receiver.arrived(d.header.sequence, &*d.journal);
    for (const TimedCommand& c : d.commands) receiver.played(c.bytes.view());
  };
  encoder.encode(0, events, [&](std::uint16_t s) { return sender.reserve(s, 0); }, [&](Bytes& p) {
    const std::size_t bare = p.size();
    ASSERT_TRUE(sender.attach(p, 0));
    larger += p.size() - bare + 5 > kMaxPayload;  // no room for a message beside it
    EXPECT_TRUE(p.size() - bare + 5 > kMaxPayload || p.size() - kRtpHeaderSize <= kMaxPayload) << p.size();
    arrive(p);
  });
  EXPECT_EQ(messages, events.size());
  EXPECT_GT(larger, 0u);
  arrive(sender.guardPacket(RtpHeader{false, kPayloadType, std::uint16_t(encoder.nextSequence() | 1), 0, 7}, 0));
  int sounding = 0;
  for (int c = 0; c < 16; ++c)
    for (const NoteState& n : receiver.state().channel(c).notes) sounding += n.velocity > 0;
  EXPECT_EQ(sounding, 640);
}

TEST(RtpJournalSender, GuardPacketsBackOffThenStop) {
  GuardSchedule guards;
  guards.midiSent(1000);
  std::vector<std::int64_t> due;
  while (auto next = guards.nextDue()) {
    due.push_back(*next);
    guards.guardSent(*next);
  }
  EXPECT_EQ(due, (std::vector<std::int64_t>{1020, 1060, 1140, 1300, 1620, 2260, 3260}));
}

std::vector<Bytes> bytesOf(const std::vector<MidiEvent>& events) {
  std::vector<Bytes> out;
  for (const MidiEvent& e : events) out.emplace_back(e.bytes().begin(), e.bytes().end());
  return out;
}

TEST(RtpJournalRepair, PlaysOnlyWhatDiffersAndNothingTwice) {
  JournalRepair repair;
  ASSERT_TRUE(repair.arrived(10, nullptr).repairs.empty());
  for (const Bytes& m : std::vector<Bytes>{{0x90, 60, 100}, {0x90, 62, 100}, {0xB0, 7, 100}, {0xC0, 1}, {0xE0, 0, 0x40},
                                            {0xB0, 101, 0}, {0xB0, 100, 0}, {0xB0, 6, 2}})
    repair.played(MidiEvent::fromBytes(m).view());

  ChannelJournal j = onChannel(0);
  j.program = ProgramState{1, std::nullopt, std::nullopt, false};  // as played
  j.controllers = {{7, 100, false}, {10, 20, false}};
  j.parameters = {parameter(true, 0x101, 64), parameter(false, 0, 2)};  // the RPN is selected at the end
  j.pitchWheel = RecentValue<std::uint16_t>{0x3000, false};
  j.notesOff.set(60), j.notesOff.set(61);  // 61 never sounded here
  j.notesOn = {{62, 100, true, false}, {64, 80, true, false}, {65, 80, false, false}};
  const RecoveryJournal journal = journalOf(11, {j});

  const auto first = repair.arrived(13, &journal);
  EXPECT_TRUE(first.playCommands);
  EXPECT_EQ(bytesOf(first.repairs), (std::vector<Bytes>{{0xB0, 10, 20},
                                                         {0xB0, 99, 2},
                                                         {0xB0, 98, 1},
                                                         {0xB0, 6, 64},
                                                         {0xB0, 101, 0},
                                                         {0xB0, 100, 0},
                                                         {0xE0, 0x00, 0x60},
                                                         {0x80, 60, 0},
                                                         {0x90, 64, 80}}));
  // The same history again after another gap: all of it is in place already.
  EXPECT_TRUE(repair.arrived(15, &journal).repairs.empty());
  // The lost packet turning up late is not played over the repair.
  EXPECT_FALSE(repair.arrived(12, &journal).playCommands);
  const RepairCounts& c = repair.counts();
  EXPECT_EQ(std::tuple(c.gaps, c.packetsLost, c.notesEnded, c.lateNotes, c.valuesRestored, c.unrepaired),
            std::tuple(2u, 3u, 1u, 1u, 3u, 0u));
}

// An NRPN chosen over several packets, the one with its MSB lost and the receiver's
// feedback then moving the checkpoint past it: the next packet's journal alone
// must bring the MSB, or the data entry goes to another parameter.
TEST(RtpJournalRepair, AParameterNumberHalfChosenInALostPacket) {
  JournalSender sender;
  JournalRepair receiver;
  const std::vector<Bytes> messages = {{0xB1, 7, 100}, {0xB1, 99, 1}, {0xB1, 98, 0}, {0xB1, 6, 9}};
  for (std::uint16_t sequence = 0; sequence < messages.size(); ++sequence) {
    Bytes p = packetWith(sequence, {messages[sequence]});
    ASSERT_TRUE(sender.attach(p, 0));
    if (sequence == 1) continue;  // lost
    const RecoveryJournal journal = journalIn(p);
    (void)receiver.arrived(sequence, &journal);
    receiver.played(MidiEvent::fromBytes(messages[sequence]).view());
    sender.receiverHas(sequence);
  }
  const auto& parameters = receiver.state().channel(1).parameters;
  const auto chosen = parameters.find(parameterKey(true, 1 << 7));
  EXPECT_TRUE(chosen != parameters.end() && chosen->second.entryMsb.value == 9);
}

}  // namespace
