// The protocol chosen for the next session, remembered in strandlink.conf by the
// name the command line takes too.
#pragma once

#include "settings/preferences.h"

namespace strandlink::link {

// The first protocol when nothing (or nothing known) was remembered, so every
// earlier setup works unchanged.
settings::Protocol loadProtocol();
void saveProtocol(settings::Protocol protocol);

}  // namespace strandlink::link
