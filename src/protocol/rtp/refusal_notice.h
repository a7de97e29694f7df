// Invitations this side refused with NO: each inviter is told to the user once,
// with its name and address and what keeps it out, so that a copy that refuses
// (a remote left in the settings, the peer filter, a session already up) never
// does so unseen. The loop's thread only.
#pragma once

#include <set>
#include <string>
#include <tuple>

#include "protocol/rtp/session_output.h"

namespace strandlink::protocol::rtp {

class RefusalNotice {
 public:
  // Anyone can invite: past this many inviters a run tells no more.
  static constexpr std::size_t kMostTold = 64;

  void reset() { told_.clear(); }
  // Whether this inviter is to be told: false when it was already.
  bool refused(const std::string& name, const PeerAddress& from);

 private:
  std::set<std::tuple<std::string, std::string, std::uint16_t>> told_;  // name, host, port
};

}  // namespace strandlink::protocol::rtp
