// What the link shows of a multicast group: who was heard lately, by address,
// and how much went in and out in this session.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

#include "protocol/multicast/group_receiver.h"

namespace strandlink::protocol::multicast {

struct GroupFigures {
  std::vector<SenderFigures> peers;  // heard lately, most recently heard first
  std::uint64_t datagramsIn = 0;
  std::uint64_t messagesIn = 0;
  std::uint64_t datagramsOut = 0;
  std::uint64_t messagesOut = 0;
  std::uint64_t dropped = 0;  // bytes and messages dropped as garbage
  bool empty() const { return peers.empty() && datagramsIn == 0 && datagramsOut == 0; }
};

// A peer is listed while it was heard within this many seconds.
inline constexpr int kPeersListedSeconds = 60;
// At most this many addresses are named; the rest are counted.
inline constexpr std::size_t kPeersNamed = 8;

// "Link: 2 peers heard (10.0.0.1:40000, 10.0.0.2:40001), in 12 datagrams / 12
// messages, out 5 datagrams / 5 messages, 0 dropped as garbage"; empty before
// anything was sent or heard.
QString formatGroupFigures(const GroupFigures& f);
// "2 peers heard, 0 dropped"; "No peer heard" while no one is; empty as above.
QString formatGroupSummary(const GroupFigures& f, bool connected);

}  // namespace strandlink::protocol::multicast
