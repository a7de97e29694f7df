// What a stream of played messages leaves sounding: notes per channel, the sustain
// pedal and pitch bend away from centre. When the link or the session ends, or on
// Panic, exactly that is released, so no note hangs after a lost note-off.
//
// One thread tracks (the loop's for received messages, the MIDI thread for thru
// and for what is sent to the peer); any thread may take what is held. Tracking
// takes no lock and never waits.
#pragma once

#include <array>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <functional>

#include "midi/short_message.h"

namespace strandlink::midi {

// What one release sent: the note-offs among all its messages (pedal up and pitch
// bend to centre are the others). peerNotes: the note-offs sent to the peer.
struct Released {
  int notes = 0;
  int messages = 0;
  int peerNotes = 0;
  friend bool operator==(const Released&, const Released&) = default;
};

// A plain copy of what is held, to merge and release.
class HeldSet {
 public:
  void merge(const HeldSet& other);
  // Leaves out what other holds as well: what someone else still plays stays.
  void remove(const HeldSet& other);
  bool empty() const;
  // Sends note-offs, then pedal up, then pitch bend to centre; what it sent.
  Released release(const std::function<void(const midi::ShortMessage&)>& send) const;

 private:
  friend class HeldNotes;
  struct Channel {
    std::bitset<128> notes;
    bool sustain = false;
    bool bent = false;
  };
  std::array<Channel, 16> channels_{};
};

class HeldNotes {
 public:
  // A message that was played (or sent).
  void track(const midi::ShortMessage& m);

  bool empty() const { return snapshot().empty(); }
  // What is held now, kept here.
  HeldSet snapshot() const;
  // What is held now, forgotten here.
  HeldSet take();
  // Releases what is held and forgets it. Returns what was handed to send.
  Released release(const std::function<void(const midi::ShortMessage&)>& send) { return take().release(send); }

  void forget() { take(); }

 private:
  static constexpr std::uint8_t kSustainBit = 1, kBentBit = 2;
  struct Channel {
    std::array<std::atomic<std::uint64_t>, 2> notes{};
    std::atomic<std::uint8_t> flags{0};
  };
  static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
  std::array<Channel, 16> channels_{};
};

}  // namespace strandlink::midi
