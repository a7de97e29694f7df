#include "report/visible_text.h"

#include <utility>

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

namespace {

// Characters that look like nothing, like something else, or move their neighbours.
bool hidesItself(char32_t u) {
  switch (QChar::category(u)) {
    case QChar::Other_Format:  // bidi controls, zero-width ones, tags
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Other_Surrogate:  // a lone half of a pair
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph: return true;
    case QChar::Separator_Space: return u != U' ';
    default: break;
  }
  // Letters by category that draw as blanks: the Hangul fillers and a blank cell.
  return u == 0x115F || u == 0x1160 || u == 0x3164 || u == 0xFFA0 || u == 0x2800;
}

// One character as shown, and whether it is shown as an escape.
std::pair<QString, bool> shownCharacter(char32_t u) {
  if (u == U'\\') return {QStringLiteral("\\\\"), true};
  if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
    return {QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0')), true};
  if (hidesItself(u))
    return {QStringLiteral("\\u{%1}").arg(QString::number(unsigned(u), 16).toUpper().rightJustified(4, u'0')), true};
  return {QString::fromUcs4(&u, 1), false};
}

}  // namespace

QString visibleName(const QString& name) {
  // Characters are counted as shown, not as UTF-16 units, so a name in emoji is
  // cut no shorter than one in letters; the input is read no further than the cut.
  QString shown;
  qsizetype count = 0;
  qsizetype cutAt = 0;  // the end of what is kept when cut: room left for the "\u2026"
  for (qsizetype i = 0; i < name.size();) {
    char32_t u = name[i].unicode();
    qsizetype units = 1;
    if (name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
      u = QChar::surrogateToUcs4(name[i], name[i + 1]);
      units = 2;
    }
    i += units;
    const auto [piece, escaped] = shownCharacter(u);
    count += escaped ? piece.size() : 1;
    if (count > kNameLimit) {
      shown.truncate(cutAt);
      return shown + u'\u2026';
    }
    shown += piece;
    if (count < kNameLimit) cutAt = shown.size();
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
