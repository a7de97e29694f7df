#include "ui/field_validator.h"

#include <QLineEdit>

#include <algorithm>

namespace strandlink::ui {

FieldValidator::FieldValidator(Filter filter, QObject* parent) : QValidator(parent), filter_(std::move(filter)) {}

QValidator::State FieldValidator::validate(QString& input, int& pos) const {
  const qsizetype oldLen = known_.size();
  const qsizetype newLen = input.size();
  qsizetype prefix = 0;
  const qsizetype maxPrefix = std::min(oldLen, newLen);
  while (prefix < maxPrefix && input[prefix] == known_[prefix]) ++prefix;
  qsizetype suffix = 0;
  const qsizetype maxSuffix = std::min(oldLen, newLen) - prefix;
  while (suffix < maxSuffix && input[newLen - 1 - suffix] == known_[oldLen - 1 - suffix]) ++suffix;

  const qsizetype middleLen = newLen - prefix - suffix;
  if (middleLen > 0) {
    const QString middle = input.mid(prefix, middleLen);
    const QString kept = filter_(middle);
    if (kept != middle) {
      // The caret stays after the same accepted characters it followed.
      if (pos > prefix) {
        const qsizetype inMiddle = std::min<qsizetype>(pos - prefix, middleLen);
        const qsizetype removedBefore = inMiddle - filter_(middle.left(inMiddle)).size();
        pos -= int(removedBefore);
      }
      input = input.left(prefix) + kept + input.right(suffix);
    }
  }
  known_ = input;
  return Acceptable;
}

void setTextUnfiltered(QLineEdit& box, const QString& text) {
  if (const auto* v = qobject_cast<const FieldValidator*>(box.validator())) v->acceptAsIs(text);
  box.setText(text);
}

}  // namespace strandlink::ui
