#include "ui/settings_dialogs.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "settings/preferences.h"

namespace strandlink::ui {

namespace {

// The second description/pattern pair is preselected.
constexpr int kPreselectedFilter = 1;

// "*.*" means every file where the filter form comes from; to Qt it means names
// with a dot, which would hide files saved without an extension. Patterns in one
// entry are separated by ";" there and by blanks in Qt.
QString qtPatterns(const QString& patterns) {
  QStringList out;
  for (QString p : patterns.split(u';', Qt::SkipEmptyParts)) {
    p = p.trimmed();
    if (p == QStringLiteral("*.*")) p = QStringLiteral("*");
    if (!p.isEmpty()) out << p;
  }
  return out.join(u' ');
}

}  // namespace

QString chooseFile(FileDialogs& dialogs, DialogMode mode, const QString& title, const QString& filter,
                   const QString& initialDirectory, const QString& defaultExtension) {
  FileDialogRequest r;
  r.defaultExtension = defaultExtension;
  r.open = mode == DialogMode::Open;
  r.title = title;
  r.initialDirectory = initialDirectory;
  r.fileMustExist = r.open;
  r.confirmOverwrite = !r.open;
  const QStringList parts = filter.isEmpty() ? QStringList() : filter.split(u'|');
  // Descriptions and patterns come in pairs; a description without its pattern is dropped.
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    r.filters << QStringLiteral("%1 (%2)").arg(parts[i], qtPatterns(parts[i + 1]));
  }
  r.selectedFilter = r.filters.size() > kPreselectedFilter ? kPreselectedFilter : 0;

  QString chosen = dialogs.run(r);
  // The answer is the text up to its first NUL, as a fixed-size name buffer would give it.
  if (const qsizetype nul = chosen.indexOf(QChar(0)); nul >= 0) chosen.truncate(nul);
  return chosen;
}

QString withSettingsSuffix(const QString& path) {
  const QFileInfo info(path);
  if (path.isEmpty() || !info.suffix().isEmpty()) return path;
  return path + (path.endsWith(u'.') ? QStringLiteral("stn") : QStringLiteral(".stn"));
}

QString chooseSettingsFile(FileDialogs& dialogs, DialogMode mode) {
  QString folder = settings::loadLastFolder();
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QCoreApplication::applicationDirPath();
  QString chosen = chooseFile(dialogs, mode, QStringLiteral("Strandlink"),
                              QStringLiteral("All Files|*.*|Strandlink Files|*.stn"), folder,
                              mode == DialogMode::Save ? QStringLiteral("stn") : QString());
  if (chosen.isEmpty()) return chosen;
  // The dialog adds it before it asks about overwriting; this covers any other answer.
  if (mode == DialogMode::Save) chosen = withSettingsSuffix(chosen);
  settings::saveLastFolder(QFileInfo(chosen).absolutePath());
  return chosen;
}

}  // namespace strandlink::ui
