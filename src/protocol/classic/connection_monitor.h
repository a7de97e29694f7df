// The once-a-second connection check. Each tick sends a one-byte probe to the
// peer's chat port unless one is still unanswered, in which case the link counts
// as not connected and the next tick probes again. A reply from anyone makes it
// connected. Both sides probe and both answer. The loop's thread only.
#pragma once

#include <cstdint>
#include <functional>

#include "protocol/classic/link_quality.h"
#include "protocol/peer_protocol.h"

namespace strandlink::protocol::classic {

inline constexpr std::uint8_t kProbeByte = 0x01;
inline constexpr std::uint8_t kReplyByte = 0x02;

class ConnectionMonitor {
 public:
  // sendProbe and sendReply put one control byte on the wire (and report their
  // own failures); onStatus hears every change of the status.
  ConnectionMonitor(std::function<void()> sendProbe, std::function<void()> sendReply,
                    std::function<void(LinkStatus)> onStatus);

  // A tick of the one-second timer.
  void tick();
  // A one-byte datagram on the chat socket.
  void controlByte(std::uint8_t byte);
  // A session ended: not connected any more. Whether a probe is due is kept for
  // the next session.
  void sessionEnded();

  LinkStatus status() const { return status_; }
  LinkQuality& quality() { return quality_; }

 private:
  void setStatus(LinkStatus status);

  std::function<void()> sendProbe_;
  std::function<void()> sendReply_;
  std::function<void(LinkStatus)> onStatus_;
  bool probeDue_ = false;  // off: a probe is outstanding (also before the first)
  LinkStatus status_ = LinkStatus::NotConnected;
  LinkQuality quality_;
};

}  // namespace strandlink::protocol::classic
