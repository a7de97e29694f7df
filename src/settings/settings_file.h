// The settings file: seven records of a key and a value, one per CR LF line, in
// ISO 8859-1. Read records apply in order up to the first bad one.
#pragma once

#include <QByteArray>
#include <QString>

#include "settings/settings.h"

namespace strandlink::settings {

struct ReadResult {
  enum class Outcome {
    Read,        // every record applied
    Missing,     // no such file
    Directory,   // a directory of that name
    NotRegular,  // a FIFO, a device or a socket: never opened, as reading could block
    Unreadable,  // it could not be opened, or it is far too large to be one
    BadRecord,   // a record's value does not fit its key; changes hold the records before it
  };
  Outcome outcome = Outcome::Read;
  SettingsChanges changes;
  int badLine = 0;  // 1-based line of the bad record
};

// The list lengths decide which device positions are valid. A value goes only
// where its box would take it: an address or a host name for the two addresses,
// digits for the two ports. A UTF-8 byte-order mark at the start is skipped.
ReadResult readSettingsFile(const QString& path, int outputCount, int inputCount);
ReadResult parseSettings(const QByteArray& bytes, int outputCount, int inputCount);

// The file's bytes: the seven records in their fixed order.
QByteArray settingsText(const Settings& s);

// Keeps a copy of a file as it is under its name with ".bad" added, over an older
// copy. An empty text on success, else the reason.
QString keepDamagedCopy(const QString& path);

// Writes a temporary file beside the target and renames it over, so a failure
// leaves the old file as it was. An empty text on success, else the reason.
QString writeSettingsFile(const QString& path, const Settings& s);

// "default.stn" beside the executable when that directory is writable, otherwise
// in $XDG_CONFIG_HOME/strandlink (default ~/.config/strandlink).
QString defaultSettingsPathFor(const QString& applicationDir);
QString defaultSettingsPath();

}  // namespace strandlink::settings
