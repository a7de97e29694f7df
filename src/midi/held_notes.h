// What the local output holds because of messages received from the peer: notes
// per channel, the sustain pedal and pitch bend away from centre. When the link or
// the session ends, exactly that is released, so no note hangs after a lost
// note-off. Window thread only (received datagrams are played there).
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>

namespace strandlink {
class Session;
}

namespace strandlink::midi {

class HeldNotes {
 public:
  // A message that was played on the output (status, data 1, data 2).
  void track(const std::uint8_t* bytes);

  bool empty() const;

  // Sends note-offs, then pedal up, then pitch bend to centre for what is held,
  // and forgets it. Returns how many messages were handed to send.
  int release(const std::function<void(std::uint32_t packed)>& send);

 private:
  struct Channel {
    std::bitset<128> notes;
    bool sustain = false;
    bool bent = false;
  };
  std::array<Channel, 16> channels_{};
};

// Releases what the session's output holds (nothing is sent when nothing is held).
// Called on Stop, at exit, when the link falls and on Panic.
void ReleaseHeldNotes(Session& s);

}  // namespace strandlink::midi
