// The peer protocols by the names the user's texts give them.
#pragma once

#include "settings/preferences.h"

namespace strandlink::link {

// The protocol as the user's texts name it.
QString protocolTitle(settings::Protocol protocol);

}  // namespace strandlink::link
