#include "protocol/multicast/group_receiver.h"

#include <algorithm>
#include <utility>

namespace strandlink::protocol::multicast {

namespace {

bool sameSender(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

void add(midi::StreamCounters& sum, const midi::StreamCounters& more) {
  sum.messages += more.messages;
  sum.strayDataBytes += more.strayDataBytes;
  sum.cutShort += more.cutShort;
  sum.strayEnds += more.strayEnds;
  sum.undefinedStatus += more.undefinedStatus;
  sum.oversizedSysEx += more.oversizedSysEx;
}

}  // namespace

GroupReceiver::GroupReceiver(std::size_t maxSenders, std::size_t maxSysEx)
    : maxSenders_(std::max<std::size_t>(maxSenders, 1)), maxSysEx_(maxSysEx) {}

GroupReceiver::Sender& GroupReceiver::senderFor(const sockaddr_in& from) {
  auto found = std::find_if(senders_.begin(), senders_.end(),
                            [&](const auto& s) { return sameSender(s->figures.address, from); });
  if (found != senders_.end()) return **found;
  Sender& sender = makeRoom();
  sender.figures.address = from;
  return sender;
}

// A new sender's slot: a fresh one while there is room, else the slot of the
// sender heard least recently, its counters kept in the totals.
GroupReceiver::Sender& GroupReceiver::makeRoom() {
  if (senders_.size() < maxSenders_) return *senders_.emplace_back(std::make_unique<Sender>(maxSysEx_));
  auto oldest = std::min_element(senders_.begin(), senders_.end(), [](const auto& a, const auto& b) {
    return a->figures.lastHeardMicros < b->figures.lastHeardMicros;
  });
  Sender& slot = **oldest;
  slot.parser.reset();
  add(forgotten_, slot.parser.counters());
  forgottenHeld_.merge(slot.held.take());
  slot.parser = midi::MidiStreamParser(maxSysEx_);
  slot.figures = SenderFigures{};
  return slot;
}

std::vector<SenderFigures> GroupReceiver::senders() const {
  std::vector<SenderFigures> all;
  for (const auto& s : senders_) {
    all.push_back(s->figures);
    all.back().stream = s->parser.counters();
  }
  return all;
}

std::size_t GroupReceiver::sendersHeardSince(std::int64_t sinceMicros) const {
  return std::count_if(senders_.begin(), senders_.end(),
                       [&](const auto& s) { return s->figures.lastHeardMicros >= sinceMicros; });
}

midi::HeldSet GroupReceiver::heldOfSilent(std::int64_t sinceMicros) {
  midi::HeldSet gone = std::exchange(forgottenHeld_, {}), kept;
  for (const auto& s : senders_) {
    if (s->figures.lastHeardMicros < sinceMicros) gone.merge(s->held.take());
    else kept.merge(s->held.snapshot());
  }
  gone.remove(kept);
  return gone;
}

void GroupReceiver::forgetHeld() {
  forgottenHeld_ = {};
  for (const auto& s : senders_) s->held.forget();
}

midi::StreamCounters GroupReceiver::totals() const {
  midi::StreamCounters sum = forgotten_;
  for (const auto& s : senders_) add(sum, s->parser.counters());
  return sum;
}

}  // namespace strandlink::protocol::multicast
