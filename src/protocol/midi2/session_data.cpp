// What a session makes of its peers' UMP Data commands: repeats dropped by
// sequence number, gaps noted and asked for again, late ones taken in.
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

void Session::takeData(std::size_t slot, const Command& command, Micros now) {
  Slot& s = slots_[slot];
  const std::uint16_t sequence = command.data();
  const int ahead = sequenceDistance(s.expected, sequence);
  if (!fillGap(s, sequence, ahead, now)) {
    ++counters_.repeats;
    return;
  }
  if (!wholePackets(command)) {
    ++counters_.malformed;
    return;
  }
  if (command.words() == 0) return;  // a keep-alive
  SessionEvent e;
  e.kind = EventKind::Data;
  e.slot = slot;
  e.sequence = sequence;
  e.words.reserve(command.words());
  for (std::size_t i = 0; i < command.words(); ++i) e.words.push_back(command.word(i));
  event(std::move(e));
}

// Whether a command is new: the next one, one after a gap (which is asked for
// again), or one of a gap that comes late.
bool Session::fillGap(Slot& s, std::uint16_t sequence, int ahead, Micros now) {
  const std::size_t bit = sequence % kMissedWindow;
  if (ahead < 0) {
    if (-ahead > kMissedWindow || !s.missed[bit]) return false;
    s.missed[bit] = false;
    ++counters_.recovered;
    return true;
  }
  if (ahead > 0) {
    counters_.lost += std::uint64_t(ahead);
    for (int k = std::max(0, ahead - kMissedWindow); k < ahead; ++k)
      s.missed[std::uint16_t(s.expected + k) % kMissedWindow] = true;
    // One request a datagram: the copies in it may fill the rest.
    if (s.resends && !std::exchange(askedThisDatagram_, true)) {
      appendRetransmitRequest(to(s.peer), s.expected, std::uint16_t(std::min(ahead, 0xFFFF)));
      s.asks = 1;
      s.askAgainAt = now + kResendAgainMicros;
    }
  }
  s.missed[bit] = false;
  s.expected = std::uint16_t(sequence + 1);
  return true;
}

// Asks again from the oldest command still missed up to the latest heard, while
// any is and the gap has had fewer than kResendAsks requests.
void Session::askAgain(Slot& s, Micros now) {
  s.askAgainAt = 0;
  if (!s.resends || s.asks >= kResendAsks) return;
  for (int back = kMissedWindow; back > 0; --back) {
    const auto sequence = std::uint16_t(s.expected - back);
    if (!s.missed[sequence % kMissedWindow]) continue;
    appendRetransmitRequest(to(s.peer), sequence, std::uint16_t(back));
    ++s.asks;
    s.askAgainAt = now + kResendAgainMicros;
    return;
  }
}

}  // namespace strandlink::protocol::midi2
