#include "link/protocol_choice.h"

#include "protocol/protocol_factory.h"

namespace strandlink::link {

settings::Protocol rememberedProtocol() {
  const settings::Protocol remembered = settings::loadProtocol();
  return protocol::protocolAvailable(remembered) ? remembered : settings::Protocol::Classic;
}

QString protocolTitle(settings::Protocol protocol) {
  return protocol == settings::Protocol::Rtp ? QStringLiteral("RTP-MIDI") : settings::protocolName(protocol);
}

}  // namespace strandlink::link
