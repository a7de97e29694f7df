#include "link/protocol_choice.h"

#include "protocol/protocol_registry.h"

namespace strandlink::link {

settings::Protocol loadProtocol() {
  return protocol::protocolFromName(settings::loadProtocolName()).value_or(protocol::protocols().front().value);
}

void saveProtocol(settings::Protocol protocol) { settings::saveProtocolName(protocol::protocolRow(protocol).name); }

}  // namespace strandlink::link
