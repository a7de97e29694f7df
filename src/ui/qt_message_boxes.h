// Message boxes shown in the window: modal, with the given title, text and icon and
// one OK button. What a check posts during a session goes to the window's banner
// instead (session_reports.h).
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "report/message_boxes.h"

namespace strandlink::ui {

class QtMessageBoxes : public report::MessageBoxes {
 public:
  explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}

  // Returns 1 (OK) once the user has closed the box. Meanwhile a nested event loop
  // runs: socket and timer handlers may run before this returns.
  int show(report::BoxIcon icon, const QString& title, const QString& text) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace strandlink::ui
