// The peer filter: with it on, MIDI datagrams, control bytes and chat lines are
// taken only from the remote host's address. The port is not compared, so a peer
// behind address translation still gets through. The loop's thread only.
#pragma once

#include <netinet/in.h>

#include <cstdint>

namespace strandlink::protocol {

class PeerFilter {
 public:
  void setEnabled(bool on) { enabled_ = on; }
  bool enabled() const { return enabled_; }

  // Whether a datagram from `sender` may be used; a refused one is counted, never
  // reported in a box.
  bool accept(const sockaddr_in& sender, std::uint32_t peerAddress) {
    if (!enabled_ || sender.sin_addr.s_addr == peerAddress) return true;
    ++refused_;
    return false;
  }
  std::uint64_t refused() const { return refused_; }
  void clearCount() { refused_ = 0; }

 private:
  bool enabled_ = false;
  std::uint64_t refused_ = 0;
};

}  // namespace strandlink::protocol
