#include "report/visible_text.h"

namespace strandlink::report {

QString visibleControls(const QString& text) {
  QString shown;
  shown.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u == u'\\') {
      shown += QStringLiteral("\\\\");
    } else if ((u < 0x20 && u != u'\t') || (u >= 0x7F && u <= 0x9F)) {
      shown += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
    } else {
      shown += c;
    }
  }
  return shown;
}

QString quotedValue(const QString& text) {
  // Cut before escaping, so a 1 MB value costs no 4 MB copy; the cut never splits
  // a character that takes two UTF-16 units.
  if (text.size() <= kQuotedValueLimit) return visibleControls(text);
  qsizetype keep = kQuotedValueLimit;
  if (text[keep - 1].isHighSurrogate()) --keep;
  return visibleControls(text.left(keep)) + QStringLiteral("...");
}

}  // namespace strandlink::report
