// Invitations this side refused with NO: each inviter is told to the user once,
// with its name and address and what keeps it out, so that a copy that refuses
// (a remote left in the settings, the peer filter, a session already up) never
// does so unseen. The loop's thread only.
#pragma once

#include <QString>

#include <set>
#include <string>
#include <utility>

#include "protocol/rtp/session_output.h"

namespace strandlink::protocol::rtp {

class RefusalNotice {
 public:
  // Anyone can invite: past this many inviters a run tells no more.
  static constexpr std::size_t kMostTold = 64;

  void reset() { told_.clear(); }
  // The line to show, or an empty one when this inviter was told already.
  // `onlyWho` says who may link and why, as in "10.0.0.2 may link (peer filter)".
  QString refused(const std::string& name, const PeerAddress& from, const QString& onlyWho);

 private:
  std::set<std::pair<std::string, std::string>> told_;  // name, address
};

// "10.0.0.2:5004"
QString addressText(const PeerAddress& address);

}  // namespace strandlink::protocol::rtp
