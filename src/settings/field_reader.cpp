#include "settings/field_reader.h"

namespace strandlink::settings {

bool FieldReader::atEnd() const {
  for (qsizetype i = pos_; i < text_.size(); ++i) {
    if (!isBlank(text_[i]) && !isLineEnd(text_[i])) return false;
  }
  return true;
}

int FieldReader::line() {
  skipBlanks(!afterComma_);
  return line_;
}

std::optional<Field> FieldReader::next() {
  skipBlanks(!afterComma_);
  if (pos_ >= text_.size()) {
    if (!afterComma_) return std::nullopt;
    afterComma_ = false;  // "KEY", at the very end: an empty value
    return Field{};
  }
  Field f;
  if (text_[pos_] == u'"') {
    readQuoted(f);
  } else {
    const qsizetype start = pos_;
    while (pos_ < text_.size() && text_[pos_] != u',' && !isLineEnd(text_[pos_])) ++pos_;
    f.text = text_.mid(start, pos_ - start).trimmed();
  }
  consumeDelimiter();
  return f;
}

void FieldReader::readQuoted(Field& f) {
  f.quoted = true;
  ++pos_;
  while (pos_ < text_.size() && !isLineEnd(text_[pos_])) {
    const QChar c = text_[pos_++];
    if (c != u'"') {
      f.text += c;
    } else if (pos_ < text_.size() && text_[pos_] == u'"') {
      f.text += c;
      ++pos_;
    } else {
      break;
    }
  }
  while (pos_ < text_.size() && text_[pos_] != u',' && !isLineEnd(text_[pos_])) ++pos_;
}

// Moves past one character, counting lines: CR LF, LF and a lone CR each end one.
void FieldReader::advance() {
  const QChar c = text_[pos_++];
  if (c == u'\n' || (c == u'\r' && (pos_ >= text_.size() || text_[pos_] != u'\n'))) ++line_;
}

// After a comma the field starts on the same line (an empty line end is an empty
// field); otherwise empty lines before a field are skipped.
void FieldReader::skipBlanks(bool lineEndsToo) {
  while (pos_ < text_.size() && (isBlank(text_[pos_]) || (lineEndsToo && isLineEnd(text_[pos_])))) advance();
}

void FieldReader::consumeDelimiter() {
  afterComma_ = false;
  if (pos_ >= text_.size()) return;
  if (text_[pos_] == u',') {
    afterComma_ = true;
    ++pos_;
    return;
  }
  if (text_[pos_] == u'\r') advance();
  if (pos_ < text_.size() && text_[pos_] == u'\n') advance();
}

}  // namespace strandlink::settings
