// Reads a settings file as a stream of comma-separated fields. Lines may end in
// CR LF, LF or CR; blanks around unquoted fields are dropped. A quoted field runs
// to its closing quote ("" inside stands for one quote) or, when that is missing,
// to the end of its line, so that a stray quote in a hand-edited file spoils only
// its own line; whatever follows a closing quote up to the next delimiter is
// ignored.
#pragma once

#include <QString>

#include <optional>

namespace strandlink::settings {

struct Field {
  QString text;
  bool quoted = false;
};

class FieldReader {
 public:
  explicit FieldReader(QString text) : text_(std::move(text)) {}

  // True when only blanks and line ends are left.
  bool atEnd() const;
  // The next field, or nothing when the text ends before one starts.
  std::optional<Field> next();
  // The 1-based line of the next field.
  int line();

 private:
  static bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }
  static bool isLineEnd(QChar c) { return c == u'\r' || c == u'\n'; }
  void skipBlanks(bool lineEndsToo);
  void readQuoted(Field& f);
  void consumeDelimiter();
  void advance();

  QString text_;
  qsizetype pos_ = 0;
  int line_ = 1;
  bool afterComma_ = false;
};

}  // namespace strandlink::settings
