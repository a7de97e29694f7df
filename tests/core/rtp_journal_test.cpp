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

// The journal the bytes hold, read to their end.
RecoveryJournal decoded(const Bytes& bytes) {
  ByteReader in(bytes);
  RecoveryJournal j;
  EXPECT_EQ(decodeJournal(in, j), DecodeError::None);
  EXPECT_EQ(in.remaining(), 0u);
  return j;
}

Bytes encoded(const RecoveryJournal& journal) {
  Bytes bytes;
  EXPECT_TRUE(encodeJournal(journal, bytes));
  return bytes;
}

struct PeerJournal {
  const char* what;
  Bytes bytes;
  RecoveryJournal journal;
  bool written;  // also what this side writes for it
};

std::vector<PeerJournal> goldens() {
  std::vector<PeerJournal> g;
  const auto both = [&](const char* what, RecoveryJournal journal, Bytes bytes) {
    g.push_back({what, std::move(bytes), std::move(journal), true});
  };
  both("empty history", journalOf(0x1234, {}), {0x80, 0x12, 0x34});
  ChannelJournal program = onChannel(3);
  program.program = ProgramState{5, 1, 2, false};
  both("program with bank", journalOf(0x0102, {program}), {0xA0, 0x01, 0x02, 0x98, 0x06, 0x80, 0x85, 0x81, 0x02});
  ChannelJournal controllers = onChannel(0);
  controllers.controllers = {{7, 100, false}, {64, 127, true}};  // the pedal came in the packet just before
  both("controllers, one recent", journalOf(5, {controllers}),
       {0x20, 0x00, 0x05, 0x00, 0x08, 0x40, 0x01, 0x87, 0x64, 0x40, 0x7F});
  ChannelJournal parameters = onChannel(1);
  parameters.parameters = {parameter(true, 0x101, 64, 0), parameter(false, 0, 2)};
  both("NRPN and RPN", journalOf(0, {parameters}),
       {0xA0, 0x00, 0x00, 0x88, 0x0E, 0x20, 0x80, 0x0B, 0x81, 0x82, 0xC2, 0x40, 0x00, 0x80, 0x00, 0x82, 0x02});
  ChannelJournal pending = onChannel(1);
  pending.pendingParameter = PendingParameter{true, 1, false};  // an NRPN MSB without its LSB yet
  both("half a parameter number", journalOf(0, {pending}), {0xA0, 0x00, 0x00, 0x88, 0x06, 0x20, 0xC0, 0x03, 0x81});
  ChannelJournal wheel = onChannel(15);
  wheel.pitchWheel = RecentValue<std::uint16_t>{0x1234, false};
  wheel.channelPressure = RecentValue<std::uint8_t>{90, false};
  wheel.notePressures = {{60, 33, false}};
  both("wheel and pressures", journalOf(0xFFFF, {wheel}),
       {0xA0, 0xFF, 0xFF, 0xF8, 0x09, 0x13, 0xB4, 0x24, 0xDA, 0x80, 0xBC, 0x21});
  ChannelJournal notes = onChannel(9);
  notes.notesOn = {{60, 100, true, false}};
  notes.notesOff.set(62), notes.notesOff.set(64);
  both("note log and off bits", journalOf(7, {notes}),
       {0xA0, 0x00, 0x07, 0xC8, 0x09, 0x08, 0x81, 0x78, 0xBC, 0xE4, 0x02, 0x80});
  ChannelJournal held = onChannel(0);
  held.notesOn = {{61, 1, false, false}};
  ChannelJournal second = onChannel(1);
  second.pitchWheel = RecentValue<std::uint16_t>{0x2000, false};
  both("no off bits, two channels", journalOf(0, {held, second}),
       {0xA1, 0x00, 0x00, 0x80, 0x07, 0x08, 0x81, 0xF0, 0xBD, 0x01, 0x88, 0x05, 0x10, 0x80, 0x40});
  return g;
}

// A peer's journal with parts this side does not apply: a system part, note
// extras, a toggled controller, and a channel whose chapter runs past its length.
TEST(RtpJournalCodec, ReadsPastWhatItDoesNotApplyAndStopsAtBadLengths) {
  const Bytes peer = {0xE1, 0x00, 0x09,                    // S Y A, two channels
                      0xC0, 0x04, 0x00, 0x00,              // system part: no simple commands
                      0x98, 0x04, 0x10, 0x81,              // channel 3: a wheel cut short
                      0x90, 0x0C, 0x46,                    // channel 2: controllers, note extras, pressure
                      0x81, 0x87, 0xC5, 0x8A, 0x32,        // a toggle (skipped) and 10 = 50
                      0x80, 0xBC, 0x81,                    // note extras
                      0xA0};                               // channel pressure 32
  RecoveryJournal j = decoded(peer);
  EXPECT_TRUE(j.system && j.system->complete);
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

// A journal attached to each packet of messages in turn; the sequence of the next.
std::uint16_t attachEach(JournalSender& sender, std::uint16_t sequence,
                         const std::vector<std::vector<Bytes>>& packets) {
  for (const auto& messages : packets) {
    Bytes p = packetWith(sequence++, messages);
    EXPECT_TRUE(sender.attach(p, 0));
  }
  return sequence;
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
  EXPECT_EQ(journalIn(p), journalOf(65533, {}));  // nothing before it

  p = packetWith(65535, {{0xB0, 7, 90}});
  ASSERT_TRUE(sender.attach(p, 10));
  ChannelJournal expected = onChannel(0);
  expected.notesOn = {{60, 90, true, true}};
  EXPECT_EQ(journalIn(p), journalOf(65533, {expected}));

  p = packetWith(0, {{0x80, 60, 0}, {0xC0, 3}});
  ASSERT_TRUE(sender.attach(p, 500));  // the note-on is old now: not to be played late
  expected.notesOn = {{60, 90, false, false}};
  expected.controllers = {{7, 90, true}};
  EXPECT_EQ(journalIn(p), journalOf(65533, {expected}));

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
  attachEach(resetting, 100, {{{0xE0, 0, 0x50}, {0xB0, 11, 40}}, {{0xB0, 121, 0}}});
  resetting.receiverHas(100);
  ChannelJournal reset = onChannel(0);
  reset.controllers = {{1, 0, true}, {11, 127, true}, {64, 0, true}, {65, 0, true}, {66, 0, true}, {67, 0, true}};
  reset.parameters = {parameter(false, 0x3FFF, std::nullopt)};
  reset.parameters[0].recent = true;
  reset.selectedLast = true;  // no parameter: the null RPN
  reset.pitchWheel = RecentValue<std::uint16_t>{0x2000, true};
  reset.channelPressure = RecentValue<std::uint8_t>{0, true};
  EXPECT_EQ(resetting.journalFor(102, 0), journalOf(101, {reset}));
}

// Until the peer shows that it reads journals (feedback past the checkpoint, or its
// own journals), one of two channels or more is left out, packet and guard alike;
// one of a single channel goes. Feedback that echoes the checkpoint shows nothing,
// and a new peer starts over.
TEST(RtpJournalSender, JournalsOfSeveralChannelsWaitUntilThePeerShowsItReadsThem) {
  JournalSender sender;
  const auto attached = [&](std::uint16_t sequence, Bytes message) {
    Bytes p = packetWith(sequence, {std::move(message)});
    const std::size_t bare = p.size();
    const bool with = sender.attach(p, 0);
    EXPECT_EQ(with, (p[kRtpHeaderSize] & 0x40) != 0);
    return with ? Bytes(p.begin() + std::ptrdiff_t(bare), p.end()) : Bytes{};
  };
  EXPECT_EQ(attached(10, {0x90, 60, 90}), (Bytes{0x80, 0x00, 0x09}));
  EXPECT_EQ(attached(11, {0x91, 61, 90}), (Bytes{0x20, 0x00, 0x09, 0x00, 0x07, 0x08, 0x81, 0xF0, 0x3C, 0xDA}));
  EXPECT_EQ(attached(12, {0x80, 60, 0}), Bytes{});  // channels 0 and 1
  EXPECT_TRUE(sender.guardPacket(RtpHeader{false, kPayloadType, 13, 0, 7}, 0).empty());
  sender.receiverHas(9);  // an echo of the checkpoint
  EXPECT_EQ(attached(13, {0xB1, 7, 1}), Bytes{});
  sender.receiverHas(11);  // past it
  EXPECT_EQ(attached(14, {0xB0, 7, 2}).at(0) & 0x2F, 0x21);  // two channels
  EXPECT_EQ(journalIn(sender.guardPacket(RtpHeader{false, kPayloadType, 15, 0, 7}, 0)).channels.size(), 2u);
  EXPECT_GT(sender.reserve(16, 0), 0u);  // made ahead, then
  sender.newPeer();
  EXPECT_EQ(attached(16, {0x92, 62, 1}), Bytes{});
  EXPECT_EQ(sender.reserve(17, 0), 0u);
  sender.peerSendsJournals();
  EXPECT_EQ(attached(17, {0x92, 62, 0}).at(0) & 0x2F, 0x22);
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
  sender.peerSendsJournals();
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

// --- the system journal ---

using Value7 = RecentValue<std::uint8_t>;

SystemJournal systemOf(std::optional<SimpleSystemCommands> d = {}, std::optional<SequencerState> q = {},
                       std::optional<TimeCodeState> f = {}, std::vector<SysExLog> x = {}, bool recent = false) {
  SystemJournal j;
  j.simple = d, j.sequencer = q, j.timeCode = f, j.sysEx = std::move(x), j.recent = recent;
  return j;
}

RecoveryJournal withSystem(SystemJournal system, std::vector<ChannelJournal> channels = {}) {
  RecoveryJournal j = journalOf(1, std::move(channels));
  j.system = std::move(system);
  return j;
}

SysExLog sysExLog(std::uint8_t typeCount, std::optional<Bytes> data, bool recent = false, std::uint8_t status = 3) {
  SysExLog x;
  x.typeCount = typeCount, x.data = std::move(data), x.recent = recent, x.status = status;
  return x;
}

std::vector<PeerJournal> systemGoldens() {
  const SimpleSystemCommands d{Value7{3, true}, Value7{1, false},
                               Value7{7, false}, false};
  TimeCodeState frame;
  frame.complete = 1;
  SystemJournal whole = systemOf(SimpleSystemCommands{std::nullopt, std::nullopt, Value7{4, false}},
                                 SequencerState{true, std::nullopt, std::nullopt, false}, frame,
                                 {sysExLog(1, std::nullopt, false, 1), sysExLog(2, Bytes{5})},
                                 true);
  whole.activeSense = Value7{2, false};
  ChannelJournal wheel = onChannel(0);
  wheel.pitchWheel = RecentValue<std::uint16_t>{0x2000, false};
  ChannelJournal rpn = onChannel(0), nrpn = onChannel(0);
  rpn.parameters = {parameter(false, 6, 2)};
  nrpn.parameters = {parameter(true, 6, 2)};
  SystemJournal cut = systemOf(SimpleSystemCommands{});
  cut.complete = false;
  ChannelJournal selected = rpn;
  selected.selectedLast = true;
  return {
      {"resets, tune requests, song", {0xC0, 0, 1, 0xC0, 0x06, 0xF0, 0x03, 0x81, 0x87}, withSystem(systemOf(d)), true},
      {"and undefined commands read past",
       {0xC0, 0, 1, 0xC0, 0x10, 0xFF, 0x03, 0x81, 0x87, 0xC0, 0x03, 0x01, 0xA4, 0x03, 0x82, 0xC2, 0x03, 0xC2, 0x04},
       withSystem(systemOf(d)), false},
      {"sequencer", {0xC0, 0, 1, 0x90, 0x08, 0xDD, 0x12, 0x34, 0x01, 0x02, 0x03},
       withSystem(systemOf({}, SequencerState{true, 0x51234, 0x010203})), true},
      {"time code", {0xC0, 0, 1, 0x88, 0x07, 0xC7, 0, 0, 0, 1}, withSystem(systemOf({}, {}, frame)), true},
      {"two SysEx", {0x40, 0, 1, 0x04, 0x08, 0x4B, 0x01, 0x81, 0x4B, 0x02, 0x82},
       withSystem(systemOf({}, {}, {}, {sysExLog(1, Bytes{1}, true), sysExLog(2, Bytes{2}, true)}, true)), true},
      {"every chapter, then a channel",
       {0x60, 0, 1, 0x7C, 0x10, 0x90, 0x84, 0x82, 0xC0, 0xC7, 0, 0, 0, 1, 0xC1, 0x01, 0xCB, 0x02, 0x85, 0x80, 0x05,
        0x10, 0x80, 0x40},
       withSystem(whole, {wheel}), true},
      {"a chapter cut short, the channel after it read", {0xE0, 0, 1, 0xC0, 0x03, 0xC0, 0x80, 0x05, 0x10, 0x80, 0x40},
       withSystem(cut, {wheel}), false},
      {"the first SysEx log's S bit is the list's: recent only with the log after it",
       {0xC0, 0, 1, 0x04, 0x08, 0x4B, 0x01, 0x81, 0xCB, 0x02, 0x82},
       withSystem(systemOf({}, {}, {}, {sysExLog(1, Bytes{1}), sysExLog(2, Bytes{2})}, true)), false},
      {"a SysEx log with L read past, the one after it kept",
       {0xC0, 0, 1, 0x84, 0x08, 0x4C, 0x02, 0x82, 0x4B, 0x01, 0x81},
       withSystem(systemOf({}, {}, {}, {sysExLog(1, Bytes{1}, true)})), false},
      {"the selected parameter last (E)", {0xA0, 0, 1, 0x80, 0x09, 0x20, 0xA0, 0x06, 0x86, 0x00, 0x82, 0x02},
       journalOf(1, {selected}), true},
      {"short parameter form: RPNs", {0xA0, 0, 1, 0x80, 0x08, 0x20, 0x94, 0x05, 0x86, 0x82, 0x02},
       journalOf(1, {rpn}), false},
      {"short parameter form: NRPNs", {0xA0, 0, 1, 0x80, 0x08, 0x20, 0x8C, 0x05, 0x86, 0x82, 0x02},
       journalOf(1, {nrpn}), false},
      {"short parameter form of no kind read past, the chapters after it kept",
       {0xA0, 0, 1, 0x80, 0x0A, 0x30, 0x84, 0x05, 0x86, 0x82, 0x02, 0x80, 0x40}, journalOf(1, {wheel}), false},
  };
}

TEST(RtpJournalCodec, ChaptersMatchGoldenBytes) {
  for (const auto& list : {goldens(), systemGoldens()}) {
    for (const PeerJournal& g : list) {
      SCOPED_TRACE(g.what);
      EXPECT_EQ(decoded(g.bytes), g.journal);
      if (g.written) {
        EXPECT_EQ(encoded(g.journal), g.bytes);
      }
    }
  }
}

// A program chosen after a bank MSB alone carries its bank; an NRPN MSB after an
// RPN is a half-chosen NRPN (its LSB register is its own), and the parameter still
// selected is marked as the list's last.
TEST(RtpJournalSender, BankMsbAloneParameterKindsApartAndTheSelectedParameterMarked) {
  JournalSender sender;
  std::uint16_t sequence = 20;
  const auto send = [&](Bytes message) {
    Bytes p = packetWith(sequence++, {std::move(message)});
    EXPECT_TRUE(sender.attach(p, 0));
    return encoded(sender.journalFor(sequence, 0));
  };
  for (const Bytes& m : {Bytes{0xB0, 0, 5}, {0xC0, 3}, {0xB0, 101, 0}, {0xB0, 100, 0}}) (void)send(m);
  EXPECT_EQ(send({0xB0, 6, 2}), (Bytes{0x20, 0x00, 0x13, 0x00, 0x0F, 0xE0, 0x83, 0x85, 0x00, 0x80, 0x80, 0x05,  // P C
                                      0x20, 0x06, 0x00, 0x00, 0x82, 0x02}));  // M: E, RPN 0 = 2
  EXPECT_EQ(send({0xB0, 99, 1}), (Bytes{0x20, 0x00, 0x13, 0x00, 0x10, 0xE0, 0x83, 0x85, 0x00, 0x80, 0x80, 0x05,
                                       0x40, 0x07, 0x81, 0x80, 0x00, 0x82, 0x02}));  // M: NRPN MSB 1 pending
}

// Both ends as in a link: the sender's journal through its bytes to the receiver,
// and the packets marked lost never arriving.
struct LossyLine {
  LossyLine() { sender.peerSendsJournals(); }
  JournalSender sender;
  JournalRepair receiver;
  std::uint16_t sequence = 500;

  std::vector<Bytes> send(const std::vector<Bytes>& messages, bool lost = false) {
    Bytes packet = packetWith(sequence++, messages);
    EXPECT_TRUE(sender.attach(packet, 0));
    MidiPacket decoded;
    if (lost || decodeMidiPacket(packet, decoded) != DecodeError::None) return {};
    const auto outcome = receiver.arrived(decoded.header.sequence, decoded.journal ? &*decoded.journal : nullptr);
    std::vector<Bytes> played = bytesOf(outcome.repairs);
    for (const TimedCommand& c : decoded.commands) {
      receiver.played(c.bytes.view());
      played.emplace_back(c.bytes.bytes().begin(), c.bytes.bytes().end());
    }
    return played;
  }
};

TEST(RtpJournalSender, SystemHistoryAndResetsThatClearTheChannels) {
  JournalSender sender;
  // A clock while stopped moves nothing.
  std::uint16_t sequence = attachEach(sender, 100,
                                      {{{0xF3, 5}}, {{0xFA}}, {{0xF8}, {0xF8}, {0xFC}, {0xF8}}, {{0xB0, 7, 50}},
                                       {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}},
                                       {{0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x40, 0xF7}, {0xC0, 2}}});
  const SysExLog gmOn = sysExLog(1, Bytes{0x7E, 0x7F, 0x09, 0x01});
  ChannelJournal program = onChannel(0);  // the controller set before the reset is gone
  program.program = ProgramState{2, std::nullopt, std::nullopt, true};
  SystemJournal system = systemOf(SimpleSystemCommands{std::nullopt, std::nullopt, Value7{5, false}},
                                  SequencerState{false, 2, std::nullopt, false}, {},
                                  {gmOn, sysExLog(1, Bytes{0x7F, 0x7F, 0x04, 0x01, 0, 0x40}, true)},
                                  true);
  RecoveryJournal expected = withSystem(system, {program});
  expected.checkpoint = 99;
  EXPECT_EQ(sender.journalFor(sequence, 0), expected);

  // A System Reset: the device stops, forgets its master volume and the program.
  Bytes p = packetWith(sequence++, {{0xFF}});
  ASSERT_TRUE(sender.attach(p, 0));
  system.simple = SimpleSystemCommands{Value7{1, true}, std::nullopt, Value7{5, false}, true};
  system.sequencer = SequencerState{false, 0, std::nullopt, true};
  system.sysEx = {gmOn};
  expected = withSystem(system);
  expected.checkpoint = 99;
  EXPECT_EQ(sender.journalFor(sequence, 0), expected);
}

// What the sender writes for a history, to the byte. Quarter frames: a forward
// series whole, its time two frames on (00:00:59;28 at 29.97 drop frame, which
// leaves out frames 0 and 1 of the next minute), and the next one under way; a
// backward series under way, and one whole (its time as told) with the next begun
// at 7, going on down from 0: a series of one. Two SysEx, each the first of its
// kind (TCOUNT), the older not of the packet before: the first log's S bit stands
// for the list.
TEST(RtpJournalSender, SystemHistoriesMatchGoldenBytes) {
  const std::pair<std::vector<std::vector<Bytes>>, Bytes> cases[] = {
      {{{{0xF1, 0x0C}, {0xF1, 0x11}, {0xF1, 0x2B}, {0xF1, 0x33}, {0xF1, 0x40}, {0xF1, 0x50}, {0xF1, 0x60},
         {0xF1, 0x74}, {0xF1, 0x02}, {0xF1, 0x10}}},
       {0x40, 0x00, 0x63, 0x08, 0x0B, 0x71, 0x20, 0x00, 0x10, 0x04, 0x20, 0x00, 0x00, 0x00}},
      {{{{0xF1, 0x72}, {0xF1, 0x61}, {0xF1, 0x50}}}, {0x40, 0x00, 0x63, 0x08, 0x07, 0x2D, 0x00, 0x00, 0x00, 0x12}},
      {{{{0xF1, 0x72}, {0xF1, 0x61}, {0xF1, 0x50}, {0xF1, 0x42}, {0xF1, 0x30}, {0xF1, 0x23}, {0xF1, 0x10},
         {0xF1, 0x04}, {0xF1, 0x72}}},
       {0x40, 0x00, 0x63, 0x08, 0x0B, 0x7F, 0x40, 0x30, 0x20, 0x12, 0x00, 0x00, 0x00, 0x02}},
      {{{{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}, {{0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x40, 0xF7}}},
       {0x40, 0x00, 0x63, 0x04, 0x10, 0x4B, 0x01, 0x7E, 0x7F, 0x09, 0x81, 0x4B, 0x01, 0x7F, 0x7F, 0x04, 0x01, 0x00,
        0xC0}},
  };
  for (const auto& [packets, bytes] : cases) {
    JournalSender sender;
    const std::uint16_t next = attachEach(sender, 100, packets);
    EXPECT_EQ(encoded(sender.journalFor(next, 0)), bytes);
  }
}

struct LossScenario {
  const char* what;
  std::vector<std::pair<std::vector<Bytes>, bool>> packets;  // the messages, and lost or not
  std::vector<Bytes> lastPlayed;                              // the repairs, then the last packet's own
  std::uint64_t restored;
};

TEST(RtpJournalRepair, SystemStateRepairedOnceAndNotTwice) {
  const Bytes gmOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, volume{0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x50, 0xF7};
  const Bytes fullFrame{0xF0, 0x7F, 0x7F, 0x01, 0x01, 1, 2, 3, 4, 0xF7};
  const LossScenario scenarios[] = {
      {"a lost System Reset",
       {{{{0x90, 60, 100}, {0xB0, 7, 50}}, false}, {{{0xFF}}, true}, {{{0xB0, 10, 20}}, true},
        {{{0x90, 62, 90}}, false}},
       {{0xFF}, {0xB0, 10, 20}, {0x90, 62, 90}}, 2},
      {"a lost Stop and locate",
       {{{{0xFA}}, false}, {{{0xF8}, {0xF8}, {0xF8}, {0xF8}, {0xF8}, {0xF8}, {0xF8}}, false}, {{{0xFC}}, true},
        {{{0xF2, 4, 0}}, true}, {{{0xB0, 1, 1}}, false}},
       {{0xFC}, {0xF2, 4, 0}, {0xB0, 1, 1}}, 1},
      {"a lost Continue", {{{{0xF2, 8, 0}}, false}, {{{0xFB}}, true}, {{{0xF8}}, false}}, {{0xFB}, {0xF8}}, 1},
      {"a lost GM reset and master volume",
       {{{{0xB0, 7, 100}, {0xC0, 5}}, false}, {{gmOn}, true}, {{volume, {0xC0, 9}}, true}, {{{0x90, 60, 1}}, false}},
       {gmOn, volume, {0xC0, 9}, {0x90, 60, 1}}, 3},
      {"a lost repeat of the GM reset",
       {{{gmOn}, false}, {{{0xB0, 7, 100}}, false}, {{gmOn}, true}, {{{0x90, 60, 1}}, false}},
       {gmOn, {0x90, 60, 1}}, 1},
      {"lost song, tune request and time code",
       {{{{0xF3, 2}}, true}, {{{0xF6}}, true}, {{fullFrame}, true}, {{{0xB0, 1, 1}}, false}},
       {{0xF6}, {0xF3, 2}, fullFrame, {0xB0, 1, 1}}, 3},
      {"a locate that running time code has moved on from",
       {{{fullFrame}, true}, {{{0xF1, 0x04}, {0xF1, 0x10}}, true}, {{{0xB0, 1, 1}}, false}}, {{0xB0, 1, 1}}, 0},
  };
  for (const LossScenario& s : scenarios) {
    SCOPED_TRACE(s.what);
    LossyLine line;
    std::vector<Bytes> played;
    for (const auto& [messages, lost] : s.packets) played = line.send(messages, lost);
    EXPECT_EQ(played, s.lastPlayed);
    EXPECT_EQ(line.receiver.counts().valuesRestored, s.restored);
    // Another gap with the same history in the journal: only the new loss is repaired.
    line.send({{0xB2, 16, 1}}, true);
    EXPECT_EQ(line.send({{0xB2, 17, 1}}), (std::vector<Bytes>{{0xB2, 16, 1}, {0xB2, 17, 1}}));
  }
}

// A peer's time code: a full frame locates this side; running time code, a series
// whole or under way (here after the full frame), is left to the quarter frames
// that follow.
TEST(RtpJournalRepair, TimeCodeFromAPeersJournal) {
  const std::pair<Bytes, std::vector<Bytes>> cases[] = {
      {{0xC0, 0, 1, 0x88, 0x07, 0xC7, 1, 2, 3, 4}, {{0xF0, 0x7F, 0x7F, 0x01, 0x01, 1, 2, 3, 4, 0xF7}}},
      {{0xC0, 0, 1, 0x88, 0x0B, 0xE0, 1, 2, 3, 4, 0x40, 0, 0, 0}, {}},
      {{0xC0, 0, 1, 0x88, 0x07, 0xD7, 0x20, 0x00, 0x10, 0x04}, {}},
  };
  for (const auto& [bytes, played] : cases) {
    JournalRepair repair;
    (void)repair.arrived(1, nullptr);
    const RecoveryJournal journal = decoded(bytes);
    EXPECT_EQ(bytesOf(repair.arrived(3, &journal).repairs), played);
  }
}

// A peer's reset log tells the count of its kind in TCOUNT; COUNT counts every
// SysEx the peer sent. This side played one GM on: a log of the second of its
// kind is played, one of the peer's second SysEx of any kind is not.
TEST(RtpJournalRepair, AResetMissedIsToldByTheCountOfItsKind) {
  const Bytes gmOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  const auto peer = [](std::uint8_t header) {
    return decoded({0xC0, 0, 1, 0x84, 0x08, header, 0x02, 0x7E, 0x7F, 0x09, 0x81});
  };
  for (const auto& [header, played] : {std::pair{0x4B, std::vector<Bytes>{gmOn}}, {0x2B, {}}}) {
    JournalRepair repair;
    (void)repair.arrived(1, nullptr);
    repair.played(MidiEvent::fromBytes(gmOn).view());
    const RecoveryJournal journal = peer(std::uint8_t(header));
    EXPECT_EQ(bytesOf(repair.arrived(3, &journal).repairs), played);
  }
  // A journal right after its predecessor puts the count in step: the same log
  // after a later gap plays nothing.
  JournalRepair repair;
  (void)repair.arrived(1, nullptr);
  const RecoveryJournal journal = peer(0x4B);
  EXPECT_TRUE(repair.arrived(2, &journal).repairs.empty());
  EXPECT_TRUE(repair.arrived(4, &journal).repairs.empty());
}

// A parameter value that Reset All Controllers followed is marked (X) and kept,
// before the null RPN the reset selects.
TEST(RtpJournalSender, AParameterValueBeforeResetAllControllersIsMarked) {
  JournalSender sender;
  const std::uint16_t next =
      attachEach(sender, 20, {{{0xB0, 101, 0}}, {{0xB0, 100, 0}}, {{0xB0, 6, 2}}, {{0xB0, 121, 0}}});
  const ChannelJournal all = sender.journalFor(next, 0).channels.at(0);
  ChannelJournal m = onChannel(0);
  m.parameters = all.parameters, m.selectedLast = all.selectedLast;
  const Bytes journal = encoded(journalOf(0, {m}));
  EXPECT_EQ(journal, (Bytes{0x20, 0x00, 0x00, 0x00, 0x0C, 0x20, 0x20, 0x09, 0x80, 0x00, 0x82, 0x82, 0x7F, 0x7F, 0x00}));
  EXPECT_EQ(decoded(journal).channels.at(0).parameters, m.parameters);
}

// A pressure that All Notes Off followed is marked (X): a receiver that lost both
// ends the note and leaves the pressure, which no longer applies.
TEST(RtpJournalRepair, APressureBeforeAllNotesOffIsMarkedAndLeft) {
  LossyLine line;
  line.send({{0x90, 60, 90}});
  line.send({{0xA0, 60, 33}}, true);
  line.send({{0xB0, 123, 0}}, true);
  const Bytes journal = encoded(line.sender.journalFor(line.sequence, 0));
  EXPECT_EQ(Bytes(journal.end() - 3, journal.end()), (Bytes{0x80, 0xBC, 0xA1}));  // chapter A: 60 = 33, X
  EXPECT_EQ(line.send({{0xB0, 7, 1}}), (std::vector<Bytes>{{0x80, 60, 0}, {0xB0, 7, 1}}));
}

// A peer's list whose last parameter is not the one selected (E = 0): its values are
// restored, then this side's own selection comes back.
TEST(RtpJournalRepair, AListWithoutTheSelectedParameterLeavesTheSelection) {
  JournalRepair repair;
  (void)repair.arrived(1, nullptr);
  for (const Bytes& m : {Bytes{0xB0, 101, 0}, {0xB0, 100, 0}}) repair.played(MidiEvent::fromBytes(m).view());
  ChannelJournal c = onChannel(0);
  c.parameters = {parameter(true, 1 << 7 | 5, 9)};
  const RecoveryJournal j = journalOf(1, {c});
  EXPECT_EQ(bytesOf(repair.arrived(3, &j).repairs),
            (std::vector<Bytes>{{0xB0, 99, 1}, {0xB0, 98, 5}, {0xB0, 6, 9}, {0xB0, 101, 0}, {0xB0, 100, 0}}));
}

// The SysEx the journal keeps, told apart from their near neighbours.
TEST(RtpJournalSender, StateSysExRecognised) {
  const std::pair<Bytes, StateSysEx> cases[] = {
      {{0xF0, 0x7E, 0x10, 0x09, 0x03, 0xF7}, StateSysEx::Reset},  // GM2 on, any device
      {{0xF0, 0x7E, 0x10, 0x09, 0x04, 0xF7}, StateSysEx::Other},
      {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, StateSysEx::Reset},
      {{0xF0, 0x43, 0x12, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, StateSysEx::Reset},
      {{0xF0, 0x43, 0x22, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, StateSysEx::Other},  // not a parameter change
      {{0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x50, 0xF7}, StateSysEx::MasterVolume},
      {{0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x50}, StateSysEx::Other},  // no F7
      {{0xF0, 0x7F, 0x7F, 0x01, 0x01, 1, 2, 3, 4, 0xF7}, StateSysEx::FullFrame},
  };
  for (const auto& [message, kind] : cases) EXPECT_EQ(classifySysEx(message), kind) << int(message[1]);
}

// A peer's counts need not start where this side's do: a packet without a gap
// puts them in step, so a later gap plays no reset this side never missed.
TEST(RtpJournalRepair, CountsTakenFromAJournalWithoutAGap) {
  JournalRepair repair;
  (void)repair.arrived(1, nullptr);
  const RecoveryJournal peer =
      withSystem(systemOf(SimpleSystemCommands{Value7{9, false}, std::nullopt, std::nullopt, false}));
  EXPECT_TRUE(repair.arrived(2, &peer).repairs.empty());
  EXPECT_TRUE(repair.arrived(4, &peer).repairs.empty());
  // A restarted peer counts from the start again: its first reset, played here, is 1.
  repair.restart();
  (void)repair.arrived(100, nullptr);
  repair.played(MidiEvent::fromBytes(Bytes{0xFF}).view());
  const RecoveryJournal restarted = withSystem(systemOf(SimpleSystemCommands{Value7{1, false}, {}, {}, false}));
  EXPECT_TRUE(repair.arrived(102, &restarted).repairs.empty());
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

// A forged journal: held notes end, each controller once, no more than a lost packet holds, nothing with a
// checkpoint after its packet. Parameter floods keep the recently used; feedback past what was sent is ignored.
TEST(RtpJournalRepair, AForgedJournalRestoresNoMoreThanItsSpanCould) {
  JournalRepair repair;
  repair.arrived(10, nullptr), repair.played(MidiEvent::fromBytes(Bytes{0x90, 60, 100}).view());
  std::vector<ChannelJournal> channels(16);
  for (std::uint8_t c = 0; c < 16; ++c)
    for (std::uint8_t n = 0; n < 128; ++n) channels[c].channel = c, channels[c].controllers.push_back({n, 1, false});
  channels[0].notesOff.set(), channels[0].controllers.insert(channels[0].controllers.end(), {{7, 2, 0}, {7, 1, 0}});
  RecoveryJournal forged = journalOf(11, channels);
  EXPECT_EQ(repair.arrived(12, &forged).repairs.size(), JournalRepair::kChangesPerLostPacket + 1);  // and note 60
  EXPECT_EQ(repair.counts().unbelieved, 16 * 112 - JournalRepair::kChangesPerLostPacket);  // 7 counted once
  forged.checkpoint = 20;
  EXPECT_TRUE(repair.arrived(14, &forged).repairs.empty());
  for (std::uint8_t msb = 0; msb < 40; ++msb)
    for (std::uint8_t lsb = 0; lsb < 128; ++lsb)
      for (const Bytes& m : std::vector<Bytes>{{0xB0, 101, 0}, {0xB0, 100, 0}, {0xB0, 98, lsb}, {0xB0, 99, msb}})
        repair.played(MidiEvent::fromBytes(m).view());
  EXPECT_EQ(repair.state().channel(0).parameters.size(), kMaxParametersPerChannel);
  EXPECT_TRUE(repair.state().channel(0).parameters.contains(parameterKey(false, 0)));
  JournalSender sender;
  attachEach(sender, 65535, {{{0x90, 60, 90}}});
  sender.receiverHas(30000);  // ahead of what was sent, across the wrap
  EXPECT_EQ(sender.checkpoint(), 65534);
}

}  // namespace
