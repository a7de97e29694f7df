#include "protocol/multicast/group_figures.h"

#include <arpa/inet.h>

#include <QStringList>

#include "net/addresses.h"

namespace strandlink::protocol::multicast {

namespace {

QString peersText(const std::vector<SenderFigures>& peers) {
  if (peers.empty()) return QStringLiteral("no peer heard");
  QStringList named;
  for (std::size_t i = 0; i < peers.size() && i < kPeersNamed; ++i) {
    const sockaddr_in& a = peers[i].address;
    named << QStringLiteral("%1:%2").arg(net::formatAddress(a.sin_addr.s_addr)).arg(ntohs(a.sin_port));
  }
  if (peers.size() > kPeersNamed) named << QStringLiteral("%1 more").arg(peers.size() - kPeersNamed);
  const QString count = peers.size() == 1 ? QStringLiteral("1 peer") : QStringLiteral("%1 peers").arg(peers.size());
  return QStringLiteral("%1 heard (%2)").arg(count, named.join(QStringLiteral(", ")));
}

}  // namespace

QString formatGroupFigures(const GroupFigures& f) {
  if (f.empty()) return {};
  return QStringLiteral(
             "Link: %1, in %2 datagrams / %3 messages, out %4 datagrams / %5 messages, %6 dropped as garbage")
      .arg(peersText(f.peers))
      .arg(f.datagramsIn)
      .arg(f.messagesIn)
      .arg(f.datagramsOut)
      .arg(f.messagesOut)
      .arg(f.dropped);
}

QString formatGroupSummary(const GroupFigures& f, bool connected) {
  if (f.empty()) return {};
  if (!connected || f.peers.empty()) return QStringLiteral("No peer heard, %1 dropped").arg(f.dropped);
  const QString count = f.peers.size() == 1 ? QStringLiteral("1 peer") : QStringLiteral("%1 peers").arg(f.peers.size());
  return QStringLiteral("%1 heard, %2 dropped").arg(count).arg(f.dropped);
}

}  // namespace strandlink::protocol::multicast
