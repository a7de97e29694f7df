#include "net/peer_filter.h"

#include "session/session.h"

namespace strandlink::net {

bool AcceptFromSender(Session& s) {
  if (!s.peerFilter) return true;
  if (s.state.RecvFromAddr.sin_addr.s_addr == s.state.MidiRemoteAddr.load().sin_addr.s_addr) return true;
  ++s.rejectedDatagrams;
  return false;
}

}  // namespace strandlink::net
