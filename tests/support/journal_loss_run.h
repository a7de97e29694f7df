// A sender and a receiver of RTP-MIDI packets with a lossy channel between them
// (seeded; random losses and bursts), no sockets: a phrase of 1,000 note pairs on
// two channels with the sustain pedal, a controller sweep, pitch bend, pressure,
// program changes with bank select, RPN/NRPN and controller resets, its last packet lost on purpose,
// guard packets after it and receiver feedback about once a second. Shared by the
// loss test and the journal benchmark (bench/journal_cost.cpp).
#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "protocol/rtp/journal_repair.h"
#include "protocol/rtp/journal_sender.h"
#include "protocol/rtp/packet_encoder.h"

namespace strandlink::test {

using namespace strandlink::protocol::rtp;
using strandlink::midi::MidiEvent;
using Bytes = std::vector<std::uint8_t>;

struct Loss {
  const char* name;
  double rate;
  double meanBurst;  // 1: each packet lost on its own
};

// Two states: in a burst each packet is lost and the burst goes on with 1 - 1/mean;
// outside one, a burst starts with the chance that makes `rate` the long-run loss.
class LossyChannel {
 public:
  LossyChannel(Loss loss, unsigned seed) : loss_(loss), random_(seed) {}
  bool drops() {
    if (loss_.meanBurst <= 1) return chance(loss_.rate);
    inBurst_ = inBurst_ ? chance(1 - 1 / loss_.meanBurst) : chance(loss_.rate / (loss_.meanBurst * (1 - loss_.rate)));
    return inBurst_;
  }

 private:
  bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }
  Loss loss_;
  std::mt19937 random_;
  bool inBurst_ = false;
};

struct Outcome {
  int hanging = 0;      // notes sounding at the receiver at the end
  int wrongValues = 0;  // values at the receiver other than the sender's
  int playedTwice = 0;  // note-ons for a note already sounding
  int faults = 0;       // packets that did not decode, journals that did not fit, a phrase that left a note on
  std::uint64_t packets = 0, journalBytes = 0, largestJournal = 0;
  RepairCounts counts;
};

// Makes the phrase, step by step (10 ms each), on channels 0 and 1. Dense: up to
// eight notes of 3-10 steps, one starting at every step with a voice free, so
// that it takes ~1,100 steps instead of ~5,600 (runs through the real program).
class Phrase {
 public:
  explicit Phrase(unsigned seed, bool dense = false) : random_(seed), dense_(dense) {}
  bool done() const { return pairs_ >= 1000 && sounding_.empty(); }

  std::vector<Bytes> step(int n) {
    std::vector<Bytes> out;
    for (auto it = sounding_.begin(); it != sounding_.end();) {
      if (it->end > n) { ++it; continue; }
      out.push_back(it->end % 2 ? Bytes{std::uint8_t(0x80 | it->channel), it->note, 64}
                                : Bytes{std::uint8_t(0x90 | it->channel), it->note, 0});
      it = sounding_.erase(it);
    }
    if (n % 73 == 0) out.push_back({0xB0, 64, std::uint8_t(n / 73 % 2 ? 127 : 0)});
    if (n % 2 == 0) out.push_back({0xB0, 1, std::uint8_t(n * 3 % 128)});
    if (n % 3 == 0) {
      const int bend = 8192 + int(4000 * std::sin(n / 20.0));
      out.push_back({0xE0, std::uint8_t(bend & 0x7F), std::uint8_t(bend >> 7)});
    }
    if (n % 5 == 0) out.push_back({0xD1, std::uint8_t(n % 128)});
    if (n % 250 == 0) out.insert(out.end(), {{0xB0, 0, std::uint8_t(n / 250 % 3)}, {0xB0, 32, 1}, {0xC0, std::uint8_t(n / 250)}});
    if (n % 400 == 0) out.insert(out.end(), {{0xB1, 99, 1}, {0xB1, 98, std::uint8_t(n / 400)}, {0xB1, 6, std::uint8_t(n % 128)}, {0xB1, 38, 5}});
    if (n % 400 == 200) out.insert(out.end(), {{0xB1, 101, 0}, {0xB1, 100, 0}, {0xB1, 6, std::uint8_t(2 + n / 400)}});
    if (n % 400 == 201) out.insert(out.end(), {{0xB1, 101, 127}, {0xB1, 100, 127}});  // no parameter selected
    if (n % 600 == 300) out.push_back({0xB1, 121, 0});                                // reset all controllers
    if (pairs_ < 1000 && sounding_.size() < (dense_ ? 8u : 4u) && (dense_ || random_() % 2)) startNote(n, out);
    if (!sounding_.empty() && random_() % 7 == 0) {
      const Note& s = sounding_[random_() % sounding_.size()];
      out.push_back({std::uint8_t(0xA0 | s.channel), s.note, std::uint8_t(random_() % 128)});
    }
    return out;
  }

 private:
  struct Note {
    std::uint8_t channel, note;
    int end;
  };
  void startNote(int n, std::vector<Bytes>& out) {
    const std::uint8_t channel = random_() % 2, note = std::uint8_t(36 + random_() % 48);
    for (const Note& s : sounding_)
      if (s.channel == channel && s.note == note) return;
    sounding_.push_back({channel, note, n + 3 + int(random_() % (dense_ ? 8 : 40))});
    out.push_back({std::uint8_t(0x90 | channel), note, std::uint8_t(1 + random_() % 127)});
    ++pairs_;
  }
  std::mt19937 random_;
  bool dense_;
  std::vector<Note> sounding_;
  int pairs_ = 0;
};

// What a receiver played: its state, and note-ons over a note already sounding.
struct Listener {
  MidiState state;
  int playedTwice = 0;
  void hear(const MidiEvent& e) {
    const auto m = e.shortMessage();
    if (m && (m->status() & 0xF0) == 0x90 && m->bytes[2] && state.channel(m->status() & 0x0F).notes[m->bytes[1]].velocity)
      ++playedTwice;
    state.apply(e.view());
  }
  int hanging() const {
    int n = 0;
    for (int c = 0; c < 16; ++c)
      for (int k = 0; k < 128; ++k) n += state.channel(c).notes[std::size_t(k)].velocity > 0;
    return n;
  }
};

inline int differences(const MidiState& truth, const MidiState& heard) {
  int wrong = 0;
  const auto differ = [&](const StampedValue& a, const StampedValue& b) { wrong += a.value >= 0 && a.value != b.value; };
  for (int c = 0; c < 16; ++c) {
    const ChannelState &t = truth.channel(c), &h = heard.channel(c);
    for (std::uint8_t n = 0; n < 120; ++n)
      if (!isParameterController(n)) differ(t.controllers[n], h.controllers[n]);
    for (std::uint8_t n = 0; n < 128; ++n) differ(t.notePressures[n], h.notePressures[n]);
    for (auto [a, b] : {std::pair{&t.program, &h.program}, {&t.bankMsbAtProgram, &h.bankMsbAtProgram},
                        {&t.pitchWheel, &h.pitchWheel}, {&t.channelPressure, &h.channelPressure}})
      differ(*a, *b);
    for (const auto& [key, p] : t.parameters) {
      const auto it = h.parameters.find(key);
      if (it == h.parameters.end()) { wrong += p.entryMsb.value >= 0; continue; }
      differ(p.entryMsb, it->second.entryMsb), differ(p.entryLsb, it->second.entryLsb);
    }
    wrong += t.selected() != h.selected();
  }
  return wrong;
}

// apart: each message in a packet of its own, as the sending thread often has it.
inline Outcome play(Loss loss, bool withJournal, unsigned seed, bool apart = false) {
  LossyChannel channel(loss, seed);
  Phrase phrase(seed + 1);
  JournalSender sender;
  sender.peerSendsJournals();  // as this side's own peers do
  JournalRepair receiver;
  GuardSchedule guards;
  MidiState truth;
  Listener heard;
  Outcome outcome;
  std::uint16_t sequence = 64000, highestHeard = 0;  // crosses the wrap of the sequence number
  const auto hear = [&](const MidiEvent& e) { heard.hear(e); };
  const auto deliver = [&](const Bytes& packet, bool lost) {
    if (lost || channel.drops()) return;
    MidiPacket p;
    if (decodeMidiPacket(packet, p) != DecodeError::None) return void(++outcome.faults);
    highestHeard = p.header.sequence;
    const auto repaired = receiver.arrived(p.header.sequence, p.journal ? &*p.journal : nullptr);
    for (const MidiEvent& e : repaired.repairs) hear(e);
    if (!repaired.playCommands) return;
    for (const TimedCommand& c : p.commands) hear(c.bytes), receiver.played(c.bytes.view());
  };
  const auto sendGuards = [&](std::int64_t now) {
    while (withJournal && guards.nextDue() && *guards.nextDue() <= now) {
      deliver(sender.guardPacket(RtpHeader{false, kPayloadType, sequence++, 0, 9}, *guards.nextDue()), false);
      guards.guardSent(*guards.nextDue());
    }
  };
  for (int n = 0; !phrase.done(); ++n) {
    const std::int64_t now = 10 * n;
    sendGuards(now);
    if (n % 100 == 99 && !channel.drops()) sender.receiverHas(highestHeard);  // feedback, itself lossy
    std::vector<TimedEvent> events;
    for (const Bytes& m : phrase.step(n)) events.push_back({0, MidiEvent::fromBytes(m)}), truth.apply(events.back().event.view());
    if (events.empty()) continue;
    PacketEncoder encoder(9, sequence);
    const auto send = [&](Bytes& packet) {
      const std::size_t bare = packet.size();
      if (withJournal && !sender.attach(packet, now)) ++outcome.faults;
      ++outcome.packets, outcome.journalBytes += packet.size() - bare;
      outcome.largestJournal = std::max<std::uint64_t>(outcome.largestJournal, packet.size() - bare);
      deliver(packet, phrase.done());  // the packets with the last note-offs are lost
    };
    const auto reserve = [&](std::uint16_t s) { return withJournal ? sender.reserve(s, now) : 0; };
    for (std::size_t i = 0; i < events.size(); i += apart ? 1 : events.size())
      encoder.encode(std::uint32_t(now * 10), std::span(events).subspan(i, apart ? 1 : events.size()), reserve, send);
    sequence = encoder.nextSequence();
    guards.midiSent(now);
  }
  sendGuards(std::numeric_limits<std::int64_t>::max());
  for (int c = 0; c < 16; ++c)
    for (int n = 0; n < 128; ++n) outcome.faults += truth.channel(c).notes[std::size_t(n)].velocity > 0;
  outcome.hanging = heard.hanging();
  outcome.playedTwice = heard.playedTwice;
  outcome.wrongValues = differences(truth, heard.state);
  outcome.counts = receiver.counts();
  return outcome;
}

}  // namespace strandlink::test
