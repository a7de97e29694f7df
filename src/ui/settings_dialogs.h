// The file dialogs of File > Open and File > Save: the request each one makes
// (title, filters, directory) and what its answer means. The dialog itself is
// shown by a FileDialogs, with Qt in the window and a recorder in tests.
#pragma once

#include <QString>
#include <QStringList>

namespace strandlink::ui {

struct FileDialogRequest {
  bool open = true;  // false: Save
  QString title;
  QString initialName;
  QStringList filters;     // "Description (pattern)", in order
  int selectedFilter = 0;  // 0-based index into filters
  QString initialDirectory;
  QString defaultExtension;       // added to a name without one (Save)
  bool fileMustExist = false;     // Open
  bool confirmOverwrite = false;  // Save
};

// Shows the request; the chosen full path, or an empty text for cancel or failure.
class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  virtual QString run(const FileDialogRequest& request) = 0;
};

enum class DialogMode { Open, Save };

// Builds the request from a "|"-separated filter of description and pattern
// pairs, shows it and returns the chosen path up to its first NUL (empty for
// cancel, which means the default settings file to the caller).
QString chooseFile(FileDialogs& dialogs, DialogMode mode, const QString& title, const QString& filter,
                   const QString& initialDirectory, const QString& defaultExtension = {});

// The request and answer of File > Open and File > Save, starting in the folder
// one of them last chose a file in (the program's folder before the first). A
// name chosen to save under without a suffix gets ".stn", so that Open's
// "*.stn" filter shows it.
QString chooseSettingsFile(FileDialogs& dialogs, DialogMode mode);

// The name with ".stn" added when it has no suffix.
QString withSettingsSuffix(const QString& path);

}  // namespace strandlink::ui
