// Choices remembered between runs that are not part of a settings file (whose
// seven records other copies of the program read as well): an INI file in the
// user's configuration directory, strandlink/strandlink.conf.
#pragma once

namespace strandlink::settings {

// Off when nothing was remembered yet.
bool loadPeerFilter();
void savePeerFilter(bool on);

}  // namespace strandlink::settings
