#include "protocol/rtp/refusal_notice.h"

namespace strandlink::protocol::rtp {

QString addressText(const PeerAddress& address) {
  return QStringLiteral("%1:%2").arg(QString::fromStdString(address.host)).arg(address.port);
}

QString RefusalNotice::refused(const std::string& name, const PeerAddress& from, const QString& onlyWho) {
  const QString address = addressText(from);
  if (told_.size() >= kMostTold || !told_.emplace(name, address.toStdString()).second) return {};
  const QString shown = name.empty() ? QStringLiteral("(no name)") : QString::fromStdString(name);
  return QStringLiteral("Refused an RTP-MIDI invitation from %1 at %2: only %3").arg(shown, address, onlyWho);
}

}  // namespace strandlink::protocol::rtp
