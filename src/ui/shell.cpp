#include "ui/shell.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace strandlink::ui {

namespace {

class DesktopShell : public Shell {
 public:
  bool execute(const ShellRequest& request) override {
    const QString target = shellTarget(request.file, request.directory);
    if (target.isEmpty()) return false;
    const QUrl url(target);
    if (url.isLocalFile() && !QFileInfo::exists(url.toLocalFile())) return false;
    // False without a launcher (no xdg-open, as on a bare or root session).
    return QDesktopServices::openUrl(url);
  }
};

// "C:" would look like a scheme to QUrl; a scheme here has at least two letters.
bool hasScheme(const QString& file) {
  const qsizetype colon = file.indexOf(QLatin1Char(':'));
  if (colon < 2) return false;
  for (qsizetype i = 0; i < colon; ++i) {
    const QChar c = file[i];
    const bool fits = c.isLetter() || (i > 0 && (c.isDigit() || c == u'+' || c == u'-' || c == u'.'));
    if (!fits || c.unicode() > 0x7F) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<Shell> makeDesktopShell() { return std::make_unique<DesktopShell>(); }

bool ShellOpen(Shell& shell, QWidget* owner, const QString& file) {
  ShellRequest r;
  r.owner = owner;
  r.file = file;
  r.directory = QCoreApplication::applicationDirPath();
  return shell.execute(r);
}

QString shellTarget(const QString& file, const QString& directory) {
  const QString trimmed = file.trimmed();
  if (trimmed.isEmpty()) return {};
  if (hasScheme(trimmed)) return trimmed;
  const QString path = QDir::isAbsolutePath(trimmed) ? trimmed : QDir(directory).absoluteFilePath(trimmed);
  return QUrl::fromLocalFile(QDir::cleanPath(path)).toString();
}

}  // namespace strandlink::ui
