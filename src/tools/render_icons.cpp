// Writes the application icon as PNG files in the hicolor theme's sizes:
// OUTDIR/NxN/apps/<id>.png. Run at build time; the drawing is the window icon's.
#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

#include "ui/app_icon.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  for (const int size : strandlink::ui::kIconSizes) {
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
    const QString file = QStringLiteral("%1/%2.png").arg(dir, QLatin1String(strandlink::ui::kAppId));
    if (!QDir().mkpath(dir) || !strandlink::ui::renderAppIcon(size).save(file, "PNG")) {
      std::fprintf(stderr, "render_icons: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
