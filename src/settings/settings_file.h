// The settings file: seven key-and-value records, read into and written from the
// window's controls.
#pragma once

#include <QString>

namespace strandlink {
class Session;
}

namespace strandlink::settings {

// "default.stn" beside the executable when that directory is writable, otherwise
// in $XDG_CONFIG_HOME/strandlink (default ~/.config/strandlink).
QString defaultSettingsPath();
// The same for a given application directory.
QString defaultSettingsPathFor(const QString& applicationDir);

// An empty name means the default file. Reports its own problems in boxes.
void LoadSettings(Session& s, const QString& fileName);
// An empty name means the default file. Writes a temporary file beside the target
// and renames it over; on failure one box with the path and the reason, and false.
bool SaveSettings(Session& s, const QString& fileName);

}  // namespace strandlink::settings
