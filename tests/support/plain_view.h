// The window's controls as plain fields, recording the transitions and raises.
#pragma once

#include "session/field_view.h"
#include "support/qt_printers.h"

namespace strandlink::test {

class PlainView : public FieldView {
 public:
  void enterRunning() override {
    FieldView::enterRunning();
    events << "running";
  }
  void enterIdle() override {
    FieldView::enterIdle();
    events << "idle";
  }
  void restoreAndRaise() override { events << "raise"; }

  QStringList events;
};

}  // namespace strandlink::test
