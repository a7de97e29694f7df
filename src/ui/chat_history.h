// The chat history box: it only grows, one line per chat line, and it counts each
// line break as CR LF, the two characters a line is appended with, so that caret
// positions agree with the texts the chat appends.
#pragma once

#include <QString>

class QPlainTextEdit;

namespace strandlink::ui {

// Appends a line break and the line, without rewriting what the box holds.
void appendHistoryLine(QPlainTextEdit& history, const QString& line);
// The length with every line break counted as two characters (constant time).
qsizetype historyLength(const QPlainTextEdit& history);
// Puts the caret at a position counted the same way and scrolls to it.
void setHistoryCaret(QPlainTextEdit& history, qsizetype position);
// The text with CR LF line breaks.
QString historyText(const QPlainTextEdit& history);

}  // namespace strandlink::ui
