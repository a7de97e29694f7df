// What each member of a session with several peers left sounding on our output,
// so that one who leaves while the others play on takes only its own notes with
// it: a note, pedal or bend another member still holds stays. Members are the
// sources the protocols hand messages up as (below kMaxSources). The loop's thread.
#pragma once

#include <array>
#include <cstddef>

#include "midi/held_notes.h"
#include "midi/midi_event.h"
#include "protocol/peer_protocol.h"

namespace strandlink::protocol {

class MemberNotes {
 public:
  // A message of the member's, played on our output.
  void played(std::size_t member, midi::MidiEventView event);
  // The member is gone: what it alone held, forgotten here.
  midi::HeldSet leave(std::size_t member);
  // A member begins afresh, or the link released everything.
  void forget(std::size_t member) { held_[member].forget(); }
  void forgetAll();

 private:
  std::array<midi::HeldNotes, kMaxSources> held_;
};

}  // namespace strandlink::protocol
