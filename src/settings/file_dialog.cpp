#include "settings/file_dialog.h"

#include <QCoreApplication>

#include "settings/settings_file.h"

namespace strandlink::settings {

namespace {

const QString kTitle = QStringLiteral("Strandlink");
const QString kFilter = QStringLiteral("All Files|*.*|Strandlink Files|*.stn");

// The second description/pattern pair is preselected (1-based index 2).
constexpr int kFilterIndex = 2;

// "*.*" means every file where the filter form comes from; to Qt it means names
// with a dot, which would hide files saved without an extension. Patterns in one
// entry are separated by ";" there and by blanks in Qt.
QString qtPatterns(QString patterns) {
  QStringList out;
  for (QString p : patterns.split(u';', Qt::SkipEmptyParts)) {
    p = p.trimmed();
    if (p == QStringLiteral("*.*")) p = QStringLiteral("*");
    if (!p.isEmpty()) out << p;
  }
  return out.join(u' ');
}

QString showAndPassOn(FileDialogs& dialogs, int mode) {
  return ShowFileDialog(dialogs, mode, kTitle, QString(), kFilter, QCoreApplication::applicationDirPath(),
                        QString());
}

}  // namespace

QStringList PipesToNuls(const QString& filter) { return filter.split(u'|'); }

QString ShowFileDialog(FileDialogs& dialogs, int mode, const QString& title, const QString& initialName,
                       const QString& filter, const QString& initialDirectory,
                       const QString& defaultExtension) {
  FileDialogRequest r;
  r.open = mode == 1;
  r.title = title;
  r.initialName = initialName;
  r.initialDirectory = initialDirectory;
  r.defaultExtension = defaultExtension;
  r.fileMustExist = r.open;
  r.confirmOverwrite = !r.open;

  const QStringList parts = filter.isEmpty() ? QStringList() : PipesToNuls(filter);
  // Descriptions and patterns come in pairs; a description without its pattern is dropped.
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    r.filters << QStringLiteral("%1 (%2)").arg(parts[i], qtPatterns(parts[i + 1]));
  }
  r.selectedFilter = r.filters.size() >= kFilterIndex ? kFilterIndex - 1 : 0;

  QString chosen = dialogs.run(r);
  // The answer is the text up to its first NUL, as a fixed-size name buffer would give it.
  if (const qsizetype nul = chosen.indexOf(QChar(0)); nul >= 0) chosen.truncate(nul);
  return chosen;
}

void mnuOpen_Click(Session& s, FileDialogs& dialogs) { LoadSettings(s, showAndPassOn(dialogs, 1)); }

void mnuSave_Click(Session& s, FileDialogs& dialogs) { SaveSettings(s, showAndPassOn(dialogs, 2)); }

}  // namespace strandlink::settings
