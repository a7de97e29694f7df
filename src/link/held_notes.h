// What the local output holds because of messages received from the peer: notes
// per channel, the sustain pedal and pitch bend away from centre. When the link or
// the session ends, exactly that is released, so no note hangs after a lost
// note-off. The loop's thread only (received datagrams are played there).
#pragma once

#include <array>
#include <bitset>
#include <functional>

#include "midi/short_message.h"

namespace strandlink::link {

// What one release sent: the note-offs among all its messages (pedal up and pitch
// bend to centre are the others).
struct Released {
  int notes = 0;
  int messages = 0;
  friend bool operator==(const Released&, const Released&) = default;
};

class HeldNotes {
 public:
  // A message that was played on the output.
  void track(const midi::ShortMessage& m);

  bool empty() const;

  // Sends note-offs, then pedal up, then pitch bend to centre for what is held,
  // and forgets it. Returns what was handed to send.
  Released release(const std::function<void(const midi::ShortMessage&)>& send);

  void forget() { channels_ = {}; }

 private:
  struct Channel {
    std::bitset<128> notes;
    bool sustain = false;
    bool bent = false;
  };
  std::array<Channel, 16> channels_{};
};

}  // namespace strandlink::link
