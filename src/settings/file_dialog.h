// The file dialog wrapper of File > Open and File > Save. The dialog itself is the
// window's (it needs widgets); this side keeps the request and its semantics.
#pragma once

#include <QString>
#include <QStringList>

namespace strandlink {
class Session;
}

namespace strandlink::settings {

struct FileDialogRequest {
  bool open = true;            // false: Save
  QString title;
  QString initialName;
  QStringList filters;         // "Description (pattern)", in order
  int selectedFilter = 0;      // 0-based index into filters
  QString initialDirectory;
  QString defaultExtension;
  bool fileMustExist = false;  // Open
  bool confirmOverwrite = false;  // Save
};

// Shows the request; the chosen full path, or an empty text for cancel or failure.
class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  virtual QString run(const FileDialogRequest& request) = 0;
};

// The "|"-separated filter split at every "|" (the NUL-separated list).
QStringList PipesToNuls(const QString& filter);

// mode 1 = Open, anything else = Save.
QString ShowFileDialog(FileDialogs& dialogs, int mode, const QString& title, const QString& initialName,
                       const QString& filter, const QString& initialDirectory,
                       const QString& defaultExtension);

// The menu commands: the dialog, then LoadSettings / SaveSettings with its answer
// (cancel passes the empty name on, which means the default file).
void mnuOpen_Click(Session& s, FileDialogs& dialogs);
void mnuSave_Click(Session& s, FileDialogs& dialogs);

}  // namespace strandlink::settings
