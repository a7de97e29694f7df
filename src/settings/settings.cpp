#include "settings/settings.h"

namespace strandlink::settings {

void SettingsChanges::applyTo(Settings& s) const {
  if (remoteHost) s.remoteHost = *remoteHost;
  if (remotePort) s.remotePort = *remotePort;
  if (localHost) s.localHost = *localHost;
  if (localPort) s.localPort = *localPort;
  if (outputPosition) s.outputPosition = *outputPosition;
  if (inputPosition) s.inputPosition = *inputPosition;
  if (highPriority) s.highPriority = *highPriority;
}

}  // namespace strandlink::settings
