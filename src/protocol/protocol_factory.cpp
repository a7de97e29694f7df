#include "protocol/protocol_factory.h"

#include "protocol/classic/classic_protocol.h"

namespace strandlink::protocol {

bool protocolAvailable(settings::Protocol protocol) {
  switch (protocol) {
    case settings::Protocol::Classic: return true;
    case settings::Protocol::Rtp: return false;
    case settings::Protocol::Multicast: return false;
  }
  return false;
}

std::unique_ptr<PeerProtocol> makePeerProtocol(settings::Protocol protocol, const PeerContext& context) {
  if (!protocolAvailable(protocol)) return nullptr;
  switch (protocol) {
    case settings::Protocol::Classic: return std::make_unique<classic::ClassicProtocol>(context);
    case settings::Protocol::Rtp:
    case settings::Protocol::Multicast: break;
  }
  return nullptr;
}

}  // namespace strandlink::protocol
