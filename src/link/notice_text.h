// The words of the protocols' notices, all in one place.
#pragma once

#include <QString>

#include "protocol/peer_notice.h"

namespace strandlink::link {

// The line the user sees for it.
QString noticeLine(const protocol::PeerNotice& notice);

}  // namespace strandlink::link
