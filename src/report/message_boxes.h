// The one way a modal message reaches the user: a box in the window, a line on
// standard error without one, a recorder in the tests.
#pragma once

#include <QString>

namespace strandlink::report {

enum class BoxIcon { None, Exclamation, Information };

// The title of boxes that give none of their own.
inline const QString kAppTitle = QStringLiteral("Strandlink");

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows one box and returns when the user has closed it (1 = OK). Runs on the
  // window's thread; a window's box runs a nested event loop meanwhile.
  virtual int show(BoxIcon icon, const QString& title, const QString& text) = 0;
  // Shows a box without waiting for it: the caller goes on at once. While a box
  // shown this way is still open, the new report takes its place (one box, never
  // a queue). A layer that never waits shows it as show() does.
  virtual void post(BoxIcon icon, const QString& title, const QString& text) { show(icon, title, text); }
  // Closes a box that post() left open, if one is.
  virtual void closePosted() {}
};

}  // namespace strandlink::report
