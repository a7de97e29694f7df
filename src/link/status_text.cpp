#include "link/status_text.h"

#include "report/visible_text.h"

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

namespace {

QString quoted(const QString& name) { return u'\u201c' + name + u'\u201d'; }

// The state in a line's words, and in full; the tone without what is missing.
StatusWords stateWords(const LinkState& s) {
  using enum StatusTone;
  if (s.members) {
    const QString heard = *s.members == 0 ? QStringLiteral("none") : QString::number(*s.members);
    return {QStringLiteral("Group: %1 heard").arg(heard), groupStateText(*s.members), *s.members > 0 ? Good : Waiting};
  }
  if (s.status == protocol::LinkStatus::Connected && s.linked > 1) {
    const QString peers = QStringLiteral("Connected: %1 peers").arg(s.linked);
    return {peers, peers + QStringLiteral(", the figures list each one"), Good};
  }
  if (s.status == protocol::LinkStatus::Connected) {
    if (s.peerName.isEmpty())
      return {connectionText(s.status),
              s.peerAddress.isEmpty() ? connectionText(s.status) : QStringLiteral("Connected to ") + s.peerAddress,
              Good};
    const QString peer = report::visibleName(s.peerName);
    QString detail = QStringLiteral("Connected to ") + quoted(peer);
    if (!s.peerAddress.isEmpty()) detail += QStringLiteral(" at ") + s.peerAddress;
    return {QStringLiteral("Connected to ") + peer, detail, Good};
  }
  if (s.waitingForInvitation)
    return {QStringLiteral("Waiting as ") + quoted(s.ownName),
            QStringLiteral("Waiting to be invited as %1: a peer that finds this session on the network invites it")
                .arg(quoted(s.ownName)),
            Waiting};
  const QString none = connectionText(s.status);
  return {none, s.peerAddress.isEmpty() ? none : none + QStringLiteral(": no answer from ") + s.peerAddress, Bad};
}

}  // namespace

StatusWords statusWords(const LinkState& state) {
  if (!state.running) return {connectionText(protocol::LinkStatus::NotConnected), {}, StatusTone::Idle};
  StatusWords words = stateWords(state);
  words.detail = statusText(words.detail, state.missing);
  // Linked, but our own side cannot play all of it: not the green of a whole link.
  if (state.missing.any() && words.tone == StatusTone::Good) words.tone = StatusTone::Waiting;
  return words;
}

QString panicText(const midi::Released& released) {
  QString text = released.notes == 1 ? QStringLiteral("1 note released")
                                     : QStringLiteral("%1 notes released").arg(released.notes);
  if (released.peerNotes > 0) text += QStringLiteral(", %1 on the peer").arg(released.peerNotes);
  return text;
}

}  // namespace strandlink::link
