#include "link/status_text.h"

namespace strandlink::link {

QString connectionText(protocol::LinkStatus status) {
  return status == protocol::LinkStatus::Connected ? QStringLiteral("Connected") : QStringLiteral("Not Connected");
}

QString groupStateText(std::size_t members) {
  if (members == 0) return QStringLiteral("Group joined - no member heard");
  if (members == 1) return QStringLiteral("Group joined - 1 member heard");
  return QStringLiteral("Group joined - %1 members heard").arg(members);
}

QString statusText(const QString& state, Missing missing) {
  const QString& text = state;
  // Without the service no device is there either: that one says it all.
  if (missing.service) return text + QStringLiteral(" - MIDI service missing");
  if (missing.input && missing.output) return text + QStringLiteral(" - input and output missing");
  if (missing.input) return text + QStringLiteral(" - input missing");
  if (missing.output) return text + QStringLiteral(" - output missing");
  return text;
}

QString panicText(const midi::Released& released) {
  QString text = released.notes == 1 ? QStringLiteral("1 note released")
                                     : QStringLiteral("%1 notes released").arg(released.notes);
  if (released.peerNotes > 0) text += QStringLiteral(", %1 on the peer").arg(released.peerNotes);
  return text;
}

}  // namespace strandlink::link
