#include "ui/tool_tips.h"

#include <QStringList>

namespace strandlink::ui {

QString wrappedToolTip(const QString& text, int width) {
  QStringList lines;
  for (const QString& paragraph : text.split(u'\n')) {
    QString line;
    for (const QString& word : paragraph.split(u' ', Qt::SkipEmptyParts)) {
      if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
        lines << line;
        line.clear();
      }
      line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    lines << line;
  }
  return lines.join(u'\n');
}

}  // namespace strandlink::ui
