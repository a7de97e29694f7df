#include "link/protocol_choice.h"

namespace strandlink::link {

QString protocolTitle(settings::Protocol protocol) {
  return protocol == settings::Protocol::Rtp ? QStringLiteral("RTP-MIDI") : settings::protocolName(protocol);
}

}  // namespace strandlink::link
