// Counts the RTP packets a peer sent that never arrived, from their 16-bit sequence
// numbers, across the wrap from 65535 to 0. A packet that turns up late (reordered
// within the last 64) takes its loss back; a duplicate counts nothing.
#pragma once

#include <cstdint>
#include <optional>

namespace strandlink::protocol::rtp {

class SequenceTracker {
 public:
  void received(std::uint16_t sequence);
  // A new sender (the peer restarted): numbering starts afresh, totals stay.
  void restart();

  std::optional<std::uint16_t> highest() const { return highest_; }
  std::uint64_t lost() const { return lost_; }
  std::uint64_t duplicates() const { return duplicates_; }

 private:
  void advance(std::uint16_t sequence, int step);
  void arrivedLate(int back);

  std::optional<std::uint16_t> highest_;
  std::uint64_t seen_ = 0;  // bit n: highest_ - n has arrived
  std::uint64_t lost_ = 0;
  std::uint64_t duplicates_ = 0;
};

}  // namespace strandlink::protocol::rtp
