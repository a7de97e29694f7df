// Records every message box instead of showing it.
#pragma once

#include <QList>
#include <QString>

#include <functional>

#include "link/message_boxes.h"

namespace strandlink::test {

struct RecordedBox {
  link::BoxIcon icon;
  QString title;
  QString text;
};

class RecordingBoxes : public link::MessageBoxes {
 public:
  int show(link::BoxIcon icon, const QString& title, const QString& text) override {
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
