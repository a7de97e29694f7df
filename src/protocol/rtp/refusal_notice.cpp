#include "protocol/rtp/refusal_notice.h"

namespace strandlink::protocol::rtp {

bool RefusalNotice::refused(const std::string& name, const PeerAddress& from) {
  return told_.size() < kMostTold && told_.emplace(name, from.host, from.port).second;
}

}  // namespace strandlink::protocol::rtp
