// What a session makes of its peers' UMP Data commands: repeats dropped by
// sequence number, gaps asked for again, and what came after a gap held back
// until it is filled or given up, so that the link plays every command in the
// order it was sent.
#include "protocol/midi2/session.h"

#include <algorithm>
#include <utility>

#include "protocol/midi2/ump_convert.h"

namespace strandlink::protocol::midi2 {

namespace {

// Whether the payload is whole packets, none cut off.
bool wholePackets(const Command& command) {
  std::size_t at = 0;
  while (at < command.words()) at += umpWords(command.word(at));
  return at == command.words();
}

}  // namespace

std::uint16_t Session::Incoming::firstHeld() const {
  std::uint16_t sequence = next;
  while (sequence != expected && missed[sequence % kMissedWindow]) ++sequence;
  return sequence;
}

void Session::takeData(std::size_t slot, const Command& command, Micros now) {
  const std::uint16_t sequence = command.data();
  const bool ahead = sequenceDistance(slots_[slot].in.expected, sequence) >= 0;
  if (!arrived(slot, sequence, now)) {
    ++counters_.repeats;
    return;
  }
  if (ahead && &command != newestData_) ++counters_.fromCopies;
  // A command cut short keeps its place in the numbering, with nothing in it.
  HeldCommand& held = slots_[slot].in.held[sequence % kMissedWindow];
  held.since = now;
  held.words.clear();
  if (!wholePackets(command)) ++counters_.malformed;
  else
    for (std::size_t i = 0; i < command.words(); ++i) held.words.push_back(command.word(i));
  handOn(slot);
}

// Whether a command is new: the next one, one after a gap (which is asked for
// again), or one of a gap that comes late but while what followed it still waits.
bool Session::arrived(std::size_t slot, std::uint16_t sequence, Micros now) {
  Slot& s = slots_[slot];
  Incoming& in = s.in;
  const std::size_t bit = sequence % kMissedWindow;
  const int ahead = sequenceDistance(in.expected, sequence);
  if (ahead < 0) {
    if (sequenceDistance(in.next, sequence) < 0 || !in.missed[bit]) return false;
    in.missed[bit] = false;
    ++counters_.recovered;
    return true;
  }
  const auto end = std::uint16_t(sequence + 1);
  // So far ahead that the wait would span more than the window: the oldest go.
  if (sequenceDistance(in.next, end) > kMissedWindow) giveUp(slot, std::uint16_t(end - kMissedWindow));
  if (ahead > 0) {
    counters_.lost += std::uint64_t(ahead);
    for (std::uint16_t q = in.expected; q != sequence; ++q) in.missed[q % kMissedWindow] = true;
    // One request a datagram: the copies in it may fill the rest.
    if (in.resends && !std::exchange(askedThisDatagram_, true)) {
      appendRetransmitRequest(to(s.peer), in.expected, std::uint16_t(sequenceDistance(in.expected, sequence)));
      ++counters_.asked;
      in.asks = 1;
      in.askGap = kResendAgainMicros;
      in.askAgainAt = now + in.askGap;
    }
  }
  in.missed[bit] = false;
  in.expected = end;
  return true;
}

// Hands on, in order, what no missed command holds back.
void Session::handOn(std::size_t slot) {
  Incoming& in = slots_[slot].in;
  for (; in.holding() && !in.missed[in.next % kMissedWindow]; ++in.next) handOnHeld(slot, in.next);
  if (!in.holding()) in.askAgainAt = 0;
}

void Session::handOnHeld(std::size_t slot, std::uint16_t sequence) {
  HeldCommand& held = slots_[slot].in.held[sequence % kMissedWindow];
  if (held.words.empty()) return;  // a keep-alive
  SessionEvent e = eventOf(EventKind::Data, slot);
  e.sequence = sequence;
  e.words = std::exchange(held.words, {});
  event(std::move(e));
}

// Gives up what is missed before upTo (which may lie past the latest heard): the
// link hears of it first, then what waited for it follows.
void Session::giveUp(std::size_t slot, std::uint16_t upTo) {
  Incoming& in = slots_[slot].in;
  const int past = std::max(0, sequenceDistance(in.expected, upTo));
  std::uint64_t missing = std::uint64_t(past);
  for (std::uint16_t q = in.next; q != upTo && q != in.expected; ++q) missing += in.missed[q % kMissedWindow];
  if (missing == 0) return;
  counters_.unfilled += missing;
  event(eventOf(EventKind::GapUnfilled, slot));
  for (; in.next != upTo && in.holding(); ++in.next) {
    const std::size_t bit = in.next % kMissedWindow;
    if (in.missed[bit]) in.missed[bit] = false;
    else handOnHeld(slot, in.next);
  }
  if (past > 0) in.expected = in.next = upTo;
  handOn(slot);
}

// What has waited kHoldMicros for a gap goes on without it.
void Session::giveUpExpired(std::size_t slot, Micros now) {
  Incoming& in = slots_[slot].in;
  while (in.holding()) {
    const std::uint16_t first = in.firstHeld();
    if (now - in.held[first % kMissedWindow].since < kHoldMicros) return;
    giveUp(slot, first);
  }
}

// The sender no longer holds what we asked for: at least the oldest gap goes, and
// all before the earliest command it says it still has.
void Session::takeRetransmitError(std::size_t slot, const Command& command) {
  Incoming& in = slots_[slot].in;
  if (!in.holding()) return;
  std::uint16_t upTo = in.firstHeld();
  if (command.words() >= 1) {
    const auto earliest = std::uint16_t(command.word(0) >> 16);
    if (sequenceDistance(upTo, earliest) > 0 && sequenceDistance(earliest, in.expected) >= 0) upTo = earliest;
  }
  giveUp(slot, upTo);
}

// Asks again from the oldest command still missed up to the latest heard, each
// time after twice the wait, kResendAsks times in all for one gap.
void Session::askAgain(Slot& s, Micros now) {
  Incoming& in = s.in;
  in.askAgainAt = 0;
  if (!in.resends || in.asks >= kResendAsks || !in.holding()) return;
  appendRetransmitRequest(to(s.peer), in.next, std::uint16_t(sequenceDistance(in.next, in.expected)));
  ++counters_.asked;
  ++in.asks;
  in.askGap *= 2;
  in.askAgainAt = now + in.askGap;
}

}  // namespace strandlink::protocol::midi2
