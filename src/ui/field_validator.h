// Keeps characters a box refuses out of an address or port box however they
// arrive: paste, drag and drop, input methods, insert(). The key handlers refuse
// typed characters first; this catches every other way in.
//
// Only what is new is filtered: a box may already hold text the filter would
// refuse (a settings file can name a host), and editing next to it must not strip
// it. The validator remembers the last text it passed and filters only the span
// that differs from it, which is where any single insertion lands.
#pragma once

#include <QString>
#include <QValidator>

#include <functional>

class QLineEdit;

namespace strandlink::ui {

class FieldValidator : public QValidator {
  Q_OBJECT
 public:
  using Filter = std::function<QString(const QString&)>;
  FieldValidator(Filter filter, QObject* parent);

  State validate(QString& input, int& pos) const override;

  // Takes a text as it is, without filtering: the program's own setText. Const
  // because a box hands out its validator as const; only the memory changes.
  void acceptAsIs(const QString& text) const { known_ = text; }

 private:
  Filter filter_;
  mutable QString known_;
};

// Sets the text of a box that may carry a FieldValidator, past its filter.
void setTextUnfiltered(QLineEdit& box, const QString& text);

}  // namespace strandlink::ui
