// Stub: being written.
#include "settings/settings_file.h"

namespace strandlink::settings {
QString defaultSettingsPath() { return {}; }
void LoadSettings(Session&, const QString&) {}
bool SaveSettings(Session&, const QString&) { return true; }
}
