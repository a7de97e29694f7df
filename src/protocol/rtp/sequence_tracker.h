// Counts the RTP packets a peer sent that never arrived, from their 16-bit sequence
// numbers, across the wrap from 65535 to 0. A packet that turns up late (reordered
// within the last 64) takes its loss back; a duplicate counts nothing. A number far
// from the expected one (a forged packet, as likely as a long outage) is believed
// only once the packets after it continue from it; until then it is no loss.
#pragma once

#include <cstdint>
#include <optional>

namespace strandlink::protocol::rtp {

class SequenceTracker {
 public:
  // Whether the packet is to be played: not a duplicate, nor far off unconfirmed.
  [[nodiscard]] bool received(std::uint16_t sequence);
  // A new sender (the peer restarted): numbering starts afresh, totals stay.
  void restart();

  std::optional<std::uint16_t> highest() const { return highest_; }
  std::uint64_t lost() const { return lost_; }
  std::uint64_t duplicates() const { return duplicates_; }
  std::uint64_t disbelieved() const { return disbelieved_; }

 private:
  void advance(std::uint16_t sequence, int step);
  bool arrivedLate(int back);
  bool farOff(std::uint16_t sequence);

  struct Jump {
    std::uint16_t last = 0;
    int agreeing = 0;  // consecutive packets from the far number on
  };

  std::optional<std::uint16_t> highest_;
  std::uint64_t seen_ = 0;  // bit n: highest_ - n has arrived
  std::uint64_t lost_ = 0;
  std::uint64_t duplicates_ = 0;
  std::uint64_t disbelieved_ = 0;
  std::optional<Jump> jump_;
};

}  // namespace strandlink::protocol::rtp
