#include "ui/chat_history.h"

#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace strandlink::ui {

namespace {

// A position counted with CR LF breaks to a document position.
int documentPosition(const QTextDocument& doc, qsizetype position, qsizetype length) {
  if (position <= 0) return 0;
  if (position >= length) return doc.characterCount() - 1;
  // Block b starts at its document position plus the b extra characters that
  // the CR LF breaks before it add; find the last block starting at or before.
  int lo = 0;
  int hi = doc.blockCount() - 1;
  while (lo < hi) {
    const int mid = lo + (hi - lo + 1) / 2;
    if (doc.findBlockByNumber(mid).position() + mid <= position) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  const QTextBlock block = doc.findBlockByNumber(lo);
  const qsizetype inBlock = position - lo - block.position();
  // A position between CR and LF lies at the block's end.
  return block.position() + int(std::min<qsizetype>(inBlock, block.length() - 1));
}

}  // namespace

void appendHistoryLine(QPlainTextEdit& history, const QString& line) {
  const QSignalBlocker block(&history);
  QTextCursor end(history.document());
  end.movePosition(QTextCursor::End);
  // Breaks inside the line (a peer may send them) break the history's line too,
  // as in any text box.
  QString text = QStringLiteral("\n") + line;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  text.replace(QChar::LineSeparator, QLatin1Char('\n'));
  end.insertText(text);
}

qsizetype historyLength(const QPlainTextEdit& history) {
  const QTextDocument& doc = *history.document();
  return doc.characterCount() - 1 + doc.blockCount() - 1;
}

void setHistoryCaret(QPlainTextEdit& history, qsizetype position) {
  const QSignalBlocker block(&history);
  QTextCursor cursor(history.document());
  cursor.setPosition(documentPosition(*history.document(), position, historyLength(history)));
  history.setTextCursor(cursor);
  history.ensureCursorVisible();
}

QString historyText(const QPlainTextEdit& history) {
  QString raw = history.document()->toRawText();
  raw.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
  raw.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
  return raw;
}

}  // namespace strandlink::ui
