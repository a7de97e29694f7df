// Settings files as the program reads and writes them: with the reports the user
// sees, and the priority a loaded file selects applied at once.
#pragma once

#include <QString>

#include "settings/settings.h"

namespace strandlink::report {
class Reporter;
}  // namespace strandlink::report

namespace strandlink::link {

struct DeviceLists;

// The default file is read at start-up and written back at exit; a named one is
// only read.
enum class SettingsFileRole { Default, Named };

// Reads a file (an empty path: the default file). A missing default file is the
// first run: its box and the default ports 4000. A named file that is missing, and
// a directory or anything else that is not a regular file, gets a box that says
// which, and changes nothing. A bad
// record gets its box with the file and the line, and the records before it still
// apply; a default file that stopped at an error is first kept beside itself as
// default.stn.bad, as the exit will write over it. The caller applies the changes.
settings::SettingsChanges loadSettingsFile(report::Reporter& reporter, const QString& path, const DeviceLists& lists,
                                           SettingsFileRole role);

// One report when strandlink.conf is there but no regular file, which is then
// neither read nor written.
void reportUnusablePreferences(report::Reporter& reporter);

// Writes a file (an empty path: the default file, whose directory is made when
// needed). On failure one box with the path and the reason, and false.
bool saveSettingsFile(report::Reporter& reporter, const QString& path, const settings::Settings& s);

// The priority after settings changed it: Realtime is applied whenever it is
// selected, High when it has just become selected.
void applyPriorityChange(bool wasHigh, bool nowHigh);

// The address this computer is reached at, as dotted text ("255.255.255.255"
// when it has none), reporting a host name that cannot be read.
QString localAddressText(report::Reporter& reporter);

}  // namespace strandlink::link
