// The words of the link's figures, one way per way of measuring them.
#include <arpa/inet.h>

#include <QStringList>

#include <cmath>

#include "link/status_text.h"
#include "net/addresses.h"
#include "report/visible_text.h"

namespace strandlink::link {

using protocol::LinkFigures;
using protocol::LinkStatus;
using protocol::PeerFigures;

namespace {

// At most this many of a group's members are named; the rest are counted.
constexpr std::size_t kPeersNamed = 8;

QString oneDecimal(double ms) { return QString::number(ms, 'f', 1); }

long lostPercent(const PeerFigures& p) {
  return std::lround(double(p.probesLost) / double(p.probesAnswered + p.probesLost) * 100);
}

bool probesSettled(const LinkFigures& f) {
  return !f.peers.empty() && f.peers.front().probesAnswered + f.peers.front().probesLost > 0;
}

// ", without the key 3, replayed 1", or empty when a keyed link dropped none.
QString keyDropsText(const LinkFigures& f) {
  QString text;
  if (f.link.untagged > 0) text += QStringLiteral(", without the key %1").arg(f.link.untagged);
  if (f.link.replayed > 0) text += QStringLiteral(", replayed %1").arg(f.link.replayed);
  return text;
}

// The probes: "Link: rtt 0.4 ms (median 0.5 ms), jitter 0.1 ms, lost 0%", with
// the refused and the key's dropped datagrams appended when there are any; empty
// before the first probe is settled, unless the key dropped some: a peer without
// it never answers.
QString probesText(const LinkFigures& f) {
  const QString keyDrops = keyDropsText(f);
  if (!probesSettled(f)) return keyDrops.isEmpty() ? QString() : QStringLiteral("Link: no answer") + keyDrops;
  const PeerFigures& p = f.peers.front();
  const QString lost = QStringLiteral("lost %1%").arg(lostPercent(p));
  QString text = !p.roundTripMs ? QStringLiteral("Link: no answer, %1").arg(lost)
                                : QStringLiteral("Link: rtt %1 ms (median %2 ms), jitter %3 ms, %4")
                                      .arg(oneDecimal(*p.roundTripMs), oneDecimal(p.medianRoundTripMs),
                                           oneDecimal(p.jitterMs), lost);
  if (f.link.refused > 0) text += QStringLiteral(", refused %1").arg(f.link.refused);
  return text + keyDrops;
}

// "Round trip 0.4 ms, 0% lost"; while not connected the last round trip is past:
// "No answer, 100% lost".
QString probesSummary(const LinkFigures& f) {
  if (!probesSettled(f)) return {};
  const PeerFigures& p = f.peers.front();
  if (!p.roundTripMs || f.link.status != LinkStatus::Connected)
    return QStringLiteral("No answer, %1% lost").arg(lostPercent(p));
  return QStringLiteral("Round trip %1 ms, %2% lost").arg(oneDecimal(*p.roundTripMs)).arg(lostPercent(p));
}

// The session: "Link: rtt 0.4 ms, clock offset -12.5 ms, lost 0 packets; repaired
// 0 gaps (0 packets lost), 0 notes ended, 0 values restored"; empty before the
// first clock exchange.
QString peerCount(std::size_t peers);

// Several participants: "Link: 3 peers: iPad at 10.0.0.2:5005 rtt 0.4 ms, lost 0
// packets; ...", then the whole link's repairs.
QString participantsText(const std::vector<PeerFigures>& peers) {
  QStringList each;
  for (const PeerFigures& p : peers) {
    const sockaddr_in& a = p.address;
    QString one = QStringLiteral("%1 at %2:%3")
                      .arg(report::visibleName(p.name), net::formatAddress(a.sin_addr.s_addr))
                      .arg(ntohs(a.sin_port));
    if (p.roundTripMs) one += QStringLiteral(" rtt %1 ms").arg(oneDecimal(*p.roundTripMs));
    each << one + QStringLiteral(", lost %1 packets").arg(p.packetsLost);
  }
  return QStringLiteral("Link: %1: %2").arg(peerCount(peers.size()), each.join(QStringLiteral("; ")));
}

QString sessionText(const LinkFigures& f) {
  if (f.peers.empty() || !f.peers.front().roundTripMs) return {};
  const PeerFigures& p = f.peers.front();
  QString text = f.peers.size() > 1 ? participantsText(f.peers)
                                    : QStringLiteral("Link: rtt %1 ms, clock offset %2 ms, lost %3 packets")
                                          .arg(oneDecimal(*p.roundTripMs), oneDecimal(p.clockOffsetMs))
                                          .arg(p.packetsLost);
  if (f.link.refused > 0) text += QStringLiteral(", refused %1").arg(f.link.refused);
  const protocol::Repairs& r = f.link.repairs;
  text += QStringLiteral("; repaired %1 gaps (%2 packets lost), %3 notes ended, %4 values restored")
              .arg(r.gaps)
              .arg(r.packetsLost)
              .arg(r.notesEnded)
              .arg(r.valuesRestored);
  return text;
}

// Several participants: "3 peers, round trip up to 0.9 ms, 2 packets lost" (the
// slowest round trip, and all their losses).
QString participantsSummary(const LinkFigures& f) {
  std::optional<double> slowest;
  std::uint64_t lost = 0;
  for (const PeerFigures& p : f.peers) {
    if (p.roundTripMs && (!slowest || *p.roundTripMs > *slowest)) slowest = p.roundTripMs;
    lost += p.packetsLost;
  }
  const QString trip = slowest ? QStringLiteral(", round trip up to %1 ms").arg(oneDecimal(*slowest)) : QString();
  return peerCount(f.peers.size()) + trip + QStringLiteral(", %1 packets lost").arg(lost);
}

// "Round trip 0.4 ms, 0 packets lost"; "No session, ..." while not connected.
QString sessionSummary(const LinkFigures& f) {
  if (f.peers.size() > 1 && f.link.status == LinkStatus::Connected) return participantsSummary(f);
  if (f.peers.empty() || !f.peers.front().roundTripMs) return {};
  const PeerFigures& p = f.peers.front();
  if (f.link.status != LinkStatus::Connected) return QStringLiteral("No session, %1 packets lost").arg(p.packetsLost);
  return QStringLiteral("Round trip %1 ms, %2 packets lost").arg(oneDecimal(*p.roundTripMs)).arg(p.packetsLost);
}

// The group: "Link: 2 peers heard (10.0.0.1:40000, 10.0.0.2:40001), in 12
// datagrams / 12 messages, out 5 datagrams / 5 messages, 0 dropped as garbage";
// empty before anything was sent or heard.
bool groupQuiet(const LinkFigures& f) { return f.peers.empty() && f.link.datagramsIn == 0 && f.link.datagramsOut == 0; }

// "1 peer", "3 peers".
QString counted(std::uint64_t n, QLatin1String one, QLatin1String many) {
  return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? one : many);
}

QString peerCount(std::size_t peers) { return counted(peers, QLatin1String("peer"), QLatin1String("peers")); }

// "10.0.0.1:5673 rtt 0.4 ms, 10.0.0.2:5673, 3 more": the first few, with the
// round trips where they are known.
QString addressesOf(const std::vector<PeerFigures>& peers) {
  QStringList named;
  for (std::size_t i = 0; i < peers.size() && i < kPeersNamed; ++i) {
    const sockaddr_in& a = peers[i].address;
    QString one = QStringLiteral("%1:%2").arg(net::formatAddress(a.sin_addr.s_addr)).arg(ntohs(a.sin_port));
    if (peers[i].roundTripMs) one += QStringLiteral(" rtt %1 ms").arg(oneDecimal(*peers[i].roundTripMs));
    named << one;
  }
  if (peers.size() > kPeersNamed) named << QStringLiteral("%1 more").arg(peers.size() - kPeersNamed);
  return named.join(QStringLiteral(", "));
}

QString peersHeard(const std::vector<PeerFigures>& peers) {
  if (peers.empty()) return QStringLiteral("no peer heard");
  return QStringLiteral("%1 heard (%2)").arg(peerCount(peers.size()), addressesOf(peers));
}

QString groupText(const LinkFigures& f) {
  if (groupQuiet(f)) return {};
  return QStringLiteral(
             "Link: %1, in %2 datagrams / %3 messages, out %4 datagrams / %5 messages, %6 dropped as garbage")
      .arg(peersHeard(f.peers))
      .arg(f.link.datagramsIn)
      .arg(f.link.messagesIn)
      .arg(f.link.datagramsOut)
      .arg(f.link.messagesOut)
      .arg(f.link.dropped);
}

// Sessions: "Link: 2 peers in session (10.0.0.1:5673 rtt 0.4 ms, ...), in 12
// datagrams / 12 messages, out 5 datagrams / 5 messages, 3 commands made good by
// copies, asked again 1 time (1 command came), sent again 0 times, lost 0
// commands, 0 dropped".
QString sessionsText(const LinkFigures& f) {
  if (groupQuiet(f)) return {};
  const QString peers = f.peers.empty()
                            ? QStringLiteral("no peer in session")
                            : QStringLiteral("%1 in session (%2)").arg(peerCount(f.peers.size()), addressesOf(f.peers));
  const auto times = [](std::uint64_t n) { return counted(n, QLatin1String("time"), QLatin1String("times")); };
  const auto commands = [](std::uint64_t n) { return counted(n, QLatin1String("command"), QLatin1String("commands")); };
  return QStringLiteral(
             "Link: %1, in %2 datagrams / %3 messages, out %4 datagrams / %5 messages, %6 made good by copies, "
             "asked again %7 (%8 came), sent again %9, lost %10 commands, %11 dropped")
      .arg(peers)
      .arg(f.link.datagramsIn)
      .arg(f.link.messagesIn)
      .arg(f.link.datagramsOut)
      .arg(f.link.messagesOut)
      .arg(commands(f.link.fromCopies))
      .arg(times(f.link.asked))
      .arg(commands(f.link.cameWhenAsked))
      .arg(times(f.link.answered))
      .arg(f.link.commandsLost)
      .arg(f.link.dropped);
}

QString sessionsSummary(const LinkFigures& f) {
  if (groupQuiet(f)) return {};
  if (f.link.status != LinkStatus::Connected || f.peers.empty())
    return QStringLiteral("No session, %1 commands lost").arg(f.link.commandsLost);
  return QStringLiteral("%1 in session, %2 commands lost").arg(peerCount(f.peers.size())).arg(f.link.commandsLost);
}

// "2 peers heard, 0 dropped"; "No peer heard" while no member is.
QString groupSummary(const LinkFigures& f) {
  if (groupQuiet(f)) return {};
  if (f.link.status != LinkStatus::Connected || f.peers.empty())
    return QStringLiteral("No peer heard, %1 dropped").arg(f.link.dropped);
  return QStringLiteral("%1 heard, %2 dropped").arg(peerCount(f.peers.size())).arg(f.link.dropped);
}

}  // namespace

QString figuresText(const LinkFigures& figures) {
  switch (figures.measure) {
    case protocol::Measure::Probes: return probesText(figures);
    case protocol::Measure::Session: return sessionText(figures);
    case protocol::Measure::Group: return groupText(figures);
    case protocol::Measure::Sessions: return sessionsText(figures);
  }
  return {};
}

QString figuresSummary(const LinkFigures& figures) {
  switch (figures.measure) {
    case protocol::Measure::Probes: return probesSummary(figures);
    case protocol::Measure::Session: return sessionSummary(figures);
    case protocol::Measure::Group: return groupSummary(figures);
    case protocol::Measure::Sessions: return sessionsSummary(figures);
  }
  return {};
}

}  // namespace strandlink::link
