// The words of what a protocol tells the user: datagrams ignored or dropped, and
// the ups and downs of an RTP-MIDI session.
#include "link/notice_text.h"

#include <arpa/inet.h>

#include "net/addresses.h"
#include "protocol/admission.h"
#include "protocol/peer_protocol.h"
#include "report/visible_text.h"

namespace strandlink::link {

namespace {

using protocol::rtp::DecodeError;
using protocol::rtp::DownReason;

// What an RTP-MIDI peer's datagram did wrong, and why its session went down.
std::string_view describe(DecodeError error) {
  switch (error) {
    case DecodeError::None: return "no error";
    case DecodeError::Truncated: return "the packet is shorter than its fields say";
    case DecodeError::BadSignature: return "a session packet without the 0xFFFF signature";
    case DecodeError::UnknownCommand: return "an unknown session command";
    case DecodeError::NameUnterminated: return "a session name without its terminating NUL";
    case DecodeError::BadSyncCount: return "a clock sync count other than 0, 1 or 2";
    case DecodeError::BadRtpVersion: return "an RTP version other than 2";
    case DecodeError::BadPadding: return "RTP padding longer than the packet";
    case DecodeError::BadDeltaTime: return "a delta time longer than four octets";
    case DecodeError::MissingStatus: return "a MIDI command without a status byte";
    case DecodeError::BadCommand: return "a status byte where none may stand";
    case DecodeError::BadSysExSegment: return "a SysEx segment with a wrong head or tail";
    case DecodeError::BadJournal: return "a recovery journal whose lengths do not add up";
  }
  return "unknown error";
}

std::string_view describe(DownReason reason) {
  switch (reason) {
    case DownReason::None: return "session up";
    case DownReason::Stopped: return "session ended here";
    case DownReason::PeerLeft: return "the peer ended the session";
    case DownReason::PeerRestarted: return "the peer restarted";
    case DownReason::TimedOut: return "the peer answered none of three clock syncs";
  }
  return "session down";
}

QString fromUtf8(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// A session name as the peer sent it: shown escaped, never raw.
QString peerName(const std::string& name) { return report::visibleName(QString::fromStdString(name)); }

// "10.0.0.2:5004"
QString addressText(const protocol::rtp::PeerAddress& address) {
  return QStringLiteral("%1:%2").arg(QString::fromStdString(address.host)).arg(address.port);
}

QString onlyWho(const protocol::InviterRefused& r) {
  switch (r.keptOut) {
    case protocol::KeptOut::PeerFilter:
      return QStringLiteral("%1 may link (peer filter)").arg(QString::fromStdString(r.remote.host));
    case protocol::KeptOut::OnlyRemote:
      return QStringLiteral("%1 may link (the remote in the settings)").arg(addressText(r.remote));
    case protocol::KeptOut::Busy:
      return QStringLiteral("%1 may link (one session at a time)").arg(peerName(r.sessionPeer));
    case protocol::KeptOut::NotListed: return QStringLiteral("the inviters allowed may link (--allow)");
    case protocol::KeptOut::RefusedByUser: return QStringLiteral("those not refused may link (refused when asked)");
    case protocol::KeptOut::TooManyAsking:
      return QStringLiteral("%1 inviters may wait for an answer at once").arg(protocol::Admission::kMostAsked);
    case protocol::KeptOut::Full:
      return QStringLiteral("%1 participants may be in the session at once").arg(protocol::kMaxSources);
    case protocol::KeptOut::NotAdmitted: break;
  }
  return QStringLiteral("admitted hosts may link");
}

struct Worded {
  QString operator()(const protocol::OversizeIgnored& o) const {
    const QString from = net::formatAddress(o.lastHost) + u':' + QString::number(o.lastPort);
    return QStringLiteral("Ignored %1 %2 longer than %3 bytes at the %4 port, the last from %5")
        .arg(o.count)
        .arg(o.count == 1 ? QStringLiteral("datagram") : QStringLiteral("datagrams"))
        .arg(o.readLength)
        .arg(o.port == protocol::ClassicPort::Midi ? QStringLiteral("MIDI") : QStringLiteral("chat"), from);
  }
  QString operator()(const protocol::GarbageDropped& g) const {
    return QStringLiteral(
               "Dropped %1 pieces of garbage from the multicast group (bytes that are no whole MIDI message)")
        .arg(g.pieces);
  }
  QString operator()(const protocol::MalformedDropped& m) const {
    const QString what = QStringLiteral("a malformed packet from %1: %2")
                             .arg(QString::fromStdString(m.host), fromUtf8(describe(m.error)));
    QString line = QStringLiteral("RTP-MIDI: dropped %1").arg(what);
    if (m.untold > 1) line += QStringLiteral(" (%1 malformed packets since the last notice)").arg(m.untold);
    return line;
  }
  QString operator()(const protocol::KeyMissing& k) const {
    return QStringLiteral(
               "A peer without the key is knocking: %1:%2 sends datagrams without the tag of our key; "
               "they are dropped and counted")
        .arg(net::formatAddress(k.host))
        .arg(k.port);
  }
  QString operator()(const protocol::SessionUp& up) const {
    return QStringLiteral("RTP-MIDI session with %1 is up").arg(peerName(up.peerName));
  }
  QString operator()(const protocol::SessionEnded& ended) const {
    if (ended.peerName.empty())
      return QStringLiteral("RTP-MIDI session ended: %1").arg(fromUtf8(describe(ended.reason)));
    return QStringLiteral("RTP-MIDI session with %1 ended: %2")
        .arg(peerName(ended.peerName), fromUtf8(describe(ended.reason)));
  }
  QString operator()(const protocol::InvitationRefused&) const {
    return QStringLiteral("The RTP-MIDI peer refused the invitation; asking again every 5 s");
  }
  QString operator()(const protocol::UmpSessionUp& up) const {
    return QStringLiteral("Network MIDI 2.0 session with %1 is up").arg(peerName(up.peerName));
  }
  QString operator()(const protocol::UmpSessionEnded& ended) const {
    const char* why = ended.reason == protocol::UmpEnd::PeerLeft        ? "it ended the session"
                      : ended.reason == protocol::UmpEnd::PeerRestarted ? "it restarted"
                                                                        : "it answered none of five pings";
    return QStringLiteral("Network MIDI 2.0 session with %1 ended: %2")
        .arg(peerName(ended.peerName), QString::fromLatin1(why));
  }
  QString operator()(const protocol::UmpInvitationRefused& r) const {
    using protocol::UmpRefusal;
    const char* what = r.refusal == UmpRefusal::NoAnswer   ? "did not answer the invitation"
                       : r.refusal == UmpRefusal::Declined ? "refused the invitation"
                       : r.refusal == UmpRefusal::Busy     ? "has no room for another session"
                       : r.refusal == UmpRefusal::WantsSecret
                           ? "asks for a secret (give it with --secret, and --user when it asks for a user)"
                           : "refused our secret";
    return QStringLiteral("The Network MIDI 2.0 host %1; inviting again every 10 s").arg(QString::fromLatin1(what));
  }
  QString operator()(const protocol::UmpProofRefused& r) const {
    return QStringLiteral("Turned away the Network MIDI 2.0 client %1 at %2: %3; its next try is judged in %4 s")
        .arg(r.name.empty() ? QStringLiteral("(no name)") : peerName(r.name), addressText(r.from),
             r.early ? QStringLiteral("it tried again too soon after a wrong one")
                     : QStringLiteral("a wrong secret or password"))
        .arg(r.waitSeconds);
  }
  QString operator()(const protocol::InviterRefused& r) const {
    const QString shown = r.name.empty() ? QStringLiteral("(no name)") : peerName(r.name);
    return QStringLiteral("Refused %1 invitation from %2 at %3: only %4")
        .arg(
            r.to == protocol::InvitedTo::RtpMidi ? QStringLiteral("an RTP-MIDI") : QStringLiteral("a Network MIDI 2.0"),
            shown, addressText(r.from), onlyWho(r));
  }
  QString operator()(const protocol::InviterAsks& a) const {
    const QString shown = a.name.empty() ? QStringLiteral("(no name)") : peerName(a.name);
    return QStringLiteral("%1 at %2 asks to link over %3: allow it or refuse it")
        .arg(shown, addressText(a.from),
             a.to == protocol::InvitedTo::RtpMidi ? QStringLiteral("RTP-MIDI") : QStringLiteral("Network MIDI 2.0"));
  }
};

}  // namespace

QString noticeLine(const protocol::PeerNotice& notice) { return std::visit(Worded{}, notice); }

}  // namespace strandlink::link
