// Stub: being written.
#include "settings/file_dialog.h"

namespace strandlink::settings {
QStringList PipesToNuls(const QString& f) { return f.split(QLatin1Char(0x7c)); }
QString ShowFileDialog(FileDialogs&, int, const QString&, const QString&, const QString&, const QString&, const QString&) { return {}; }
void mnuOpen_Click(Session&, FileDialogs&) {}
void mnuSave_Click(Session&, FileDialogs&) {}
}
