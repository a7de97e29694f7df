// The peer protocol a session uses: the one remembered in strandlink.conf, as long
// as this build can link with it.
#pragma once

#include "settings/preferences.h"

namespace strandlink::link {

// Classic when the remembered protocol is not available here (a hand-edited
// file, or one a later version wrote), so that a start never fails for it.
settings::Protocol rememberedProtocol();

// The protocol as the user's texts name it.
QString protocolTitle(settings::Protocol protocol);

}  // namespace strandlink::link
