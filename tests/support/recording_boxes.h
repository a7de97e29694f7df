// Records every message box instead of showing it.
#pragma once

#include <QList>
#include <QString>

#include <functional>

#include "report/message_boxes.h"

namespace strandlink::test {

struct RecordedBox {
  report::BoxIcon icon;
  QString title;
  QString text;
};

class RecordingBoxes : public report::MessageBoxes {
 public:
  int show(report::BoxIcon icon, const QString& title, const QString& text) override {
    boxes.append({icon, title, text});
    if (whileOpen) whileOpen();
    return 1;
  }
  QStringList texts() const {
    QStringList out;
    for (const auto& b : boxes) out << b.text;
    return out;
  }
  QList<RecordedBox> boxes;
  // Runs while a box is "open": lets a test play the nested event loop.
  std::function<void()> whileOpen;
};

}  // namespace strandlink::test
