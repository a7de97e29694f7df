#include "protocol/member_notes.h"

#include "midi/short_message.h"

namespace strandlink::protocol {

void MemberNotes::played(std::size_t member, midi::MidiEventView event) {
  if (!event.isSysEx()) held_[member].track(midi::ShortMessage::fromBytes(event.bytes()));
}

midi::HeldSet MemberNotes::leave(std::size_t member) {
  midi::HeldSet gone = held_[member].take();
  for (std::size_t other = 0; other < held_.size(); ++other)
    if (other != member) gone.remove(held_[other].snapshot());
  return gone;
}

void MemberNotes::forgetAll() {
  for (midi::HeldNotes& h : held_) h.forget();
}

}  // namespace strandlink::protocol
