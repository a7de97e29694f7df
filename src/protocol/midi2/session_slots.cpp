// The session's bookkeeping: its slots and peers, what it has to send and say,
// and how often a stranger is answered.
#include "protocol/midi2/session.h"

#include <algorithm>
#include <utility>

namespace strandlink::protocol::midi2 {

std::optional<Micros> Session::nextWakeup() const {
  std::optional<Micros> next;
  const auto sooner = [&](Micros at) {
    if (!next || at < *next) next = at;
  };
  for (const Slot& s : slots_) {
    if (s.state != State::Idle) sooner(s.deadline);
    if (s.state != State::Established) continue;
    if (s.in.askAgainAt != 0) sooner(s.in.askAgainAt);
    if (s.in.holding()) sooner(s.in.held[s.in.firstHeld() % kMissedWindow].since + kHoldMicros);
  }
  return next;
}

SessionEvent Session::eventOf(EventKind kind, std::size_t slot) {
  SessionEvent e;
  e.kind = kind;
  e.slot = slot;
  return e;
}

SessionEvent Session::eventAbout(EventKind kind, const Endpoint& from, const std::string& name) {
  SessionEvent e = eventOf(kind);
  e.peerName = name;
  e.from = from;
  return e;
}

std::vector<Outgoing> Session::takeOutgoing() { return std::exchange(outgoing_, {}); }
std::vector<SessionEvent> Session::takeEvents() { return std::exchange(events_, {}); }

std::size_t Session::established() const {
  return std::size_t(std::ranges::count_if(slots_, [](const Slot& s) { return s.state == State::Established; }));
}

std::optional<Endpoint> Session::peerOf(std::size_t slot) const {
  if (slot >= slots_.size() || slots_[slot].state != State::Established) return std::nullopt;
  return slots_[slot].peer;
}

std::optional<std::size_t> Session::slotOf(const Endpoint& from) const {
  for (std::size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i].state == State::Established && slots_[i].peer == from) return i;
  return std::nullopt;
}

// Replies to one peer gathered in one datagram, within the size a datagram may take.
std::vector<std::uint8_t>& Session::to(const Endpoint& peer) {
  for (Outgoing& o : outgoing_)
    if (o.to == peer && o.datagram.size() + 256 <= kMaxDatagram) return o.datagram;
  Outgoing& o = outgoing_.emplace_back(Outgoing{peer, {}});
  beginDatagram(o.datagram);
  return o.datagram;
}

bool Session::mayAnswerStranger(const Endpoint& from, Micros now) {
  if (now - answersSecond_ >= kSecond) {
    answersSecond_ = now;
    answersThisSecond_ = 0;
  }
  if (answersThisSecond_ >= kStrangerAnswers) return false;
  for (auto& [who, when] : strangers_)
    if (who == from && when != 0 && now - when < kSecond) return false;
  strangers_[nextStranger_] = {from, now == 0 ? 1 : now};
  nextStranger_ = (nextStranger_ + 1) % strangers_.size();
  ++answersThisSecond_;
  return true;
}

}  // namespace strandlink::protocol::midi2
