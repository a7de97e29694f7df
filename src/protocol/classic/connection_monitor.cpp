#include "protocol/classic/connection_monitor.h"

namespace strandlink::protocol::classic {

ConnectionMonitor::ConnectionMonitor(std::function<void()> sendProbe, std::function<void()> sendReply,
                                     std::function<void(LinkStatus)> onStatus)
    : sendProbe_(std::move(sendProbe)), sendReply_(std::move(sendReply)), onStatus_(std::move(onStatus)) {}

void ConnectionMonitor::tick() {
  if (probeDue_) {
    probeDue_ = false;
    sendProbe_();
    quality_.probeSent(LinkQuality::Clock::now());
  } else {
    setStatus(LinkStatus::NotConnected);
    probeDue_ = true;
    quality_.tickUnanswered(LinkQuality::Clock::now());
  }
}

void ConnectionMonitor::controlByte(std::uint8_t byte) {
  if (byte == kProbeByte) {
    // The reply goes to the configured peer, not to where the probe came from.
    sendReply_();
  } else if (byte == kReplyByte) {
    quality_.replyArrived(LinkQuality::Clock::now());
    probeDue_ = true;
    setStatus(LinkStatus::Connected);
  }
}

void ConnectionMonitor::sessionEnded() {
  setStatus(LinkStatus::NotConnected);
  quality_.clear();
}

void ConnectionMonitor::setStatus(LinkStatus status) {
  if (status == status_) return;
  status_ = status;
  if (onStatus_) onStatus_(status);
}

}  // namespace strandlink::protocol::classic
