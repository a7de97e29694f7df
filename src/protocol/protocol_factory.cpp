#include "protocol/protocol_factory.h"

#include "protocol/classic/classic_protocol.h"
#include "protocol/multicast/multicast_protocol.h"
#include "protocol/rtp/rtp_protocol.h"

namespace strandlink::protocol {

bool protocolHasChat(settings::Protocol protocol) { return protocol == settings::Protocol::Classic; }

std::unique_ptr<PeerProtocol> makePeerProtocol(settings::Protocol protocol, const PeerContext& context) {
  switch (protocol) {
    case settings::Protocol::Classic: return std::make_unique<classic::ClassicProtocol>(context);
    case settings::Protocol::Multicast: return std::make_unique<multicast::MulticastProtocol>(context);
    case settings::Protocol::Rtp: return std::make_unique<rtp::RtpProtocol>(context);
  }
  return nullptr;
}

}  // namespace strandlink::protocol
