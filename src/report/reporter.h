// Keeps report boxes from stacking. A box runs a nested event loop, so socket and
// timer handlers go on while it is open; a second report of the same context then
// is dropped. What a handler finds by itself is posted instead: a box that
// nobody waits for. Flood-prone contexts (reads and sends that fail per datagram)
// are also held back for a while after their box closes.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <optional>

#include "net/socket_errors.h"
#include "report/message_boxes.h"

namespace strandlink::report {

class Reporter {
 public:
  explicit Reporter(MessageBoxes& boxes) : boxes_(boxes) {}

  enum class Flood { Show, Throttle };

  // Shows the box unless one of the same context is open (or, throttled, closed
  // less than kQuietMs ago). Returns the box's answer, or 0 when it was held back.
  int report(const QString& context, BoxIcon icon, const QString& title, const QString& text,
             Flood flood = Flood::Show);
  // For what a handler finds by itself (a device or the MIDI service that went or
  // came back): never waits for the user, so the check that found it goes on. Shown
  // at once, in place of a posted box still open; while a modal box of report() is
  // open, the latest such report waits for it to close (one, never a queue).
  void post(BoxIcon icon, const QString& title, const QString& text);

  // A box whose text is its own context.
  int report(BoxIcon icon, const QString& title, const QString& text) { return report(text, icon, title, text); }

  // A failed socket call: the "Network Error" box with the context text (it ends
  // in a colon and two blanks) followed by the error's description and detail.
  void socketError(net::SocketError error, const QString& context, Flood flood = Flood::Show,
                   const QString& detail = {});

  MessageBoxes& boxes() { return boxes_; }

  static constexpr qint64 kQuietMs = 5000;

 private:
  MessageBoxes& boxes_;
  QHash<QString, bool> open_;
  QHash<QString, QElapsedTimer> closedAt_;
  int modalOpen_ = 0;
  struct Posted {
    BoxIcon icon;
    QString title;
    QString text;
  };
  std::optional<Posted> waiting_;
};

}  // namespace strandlink::report
