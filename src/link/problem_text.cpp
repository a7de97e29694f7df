// The words of what went wrong in a protocol: the contexts of the failed socket
// calls, the refused values, the datagrams of another protocol.
#include "link/problem_text.h"

#include <arpa/inet.h>

#include <QStringList>

#include <cstring>

#include "net/addresses.h"
#include "protocol/protocol_registry.h"
#include "report/message_boxes.h"
#include "report/reporter.h"
#include "report/visible_text.h"

namespace strandlink::link {

using protocol::Operation;
using protocol::RefusalReason;
using protocol::SettingsField;

namespace {

// The box's first words; each ends in a colon and two blanks, before the reason.
// Some name variables of long ago: the texts users have always seen, kept as they are.
QString context(Operation operation) {
  switch (operation) {
    case Operation::CreateMidiSocket: return QStringLiteral("Tried to get hSocketMidiData:  ");
    case Operation::CreateChatSocket: return QStringLiteral("Tried to get hSocketChatData:  ");
    case Operation::CreateSessionSocket: return QStringLiteral("Tried to create an RTP-MIDI socket:  ");
    case Operation::BindMidiSocket: return QStringLiteral("Tried to bind MIDI socket:  ");
    case Operation::BindChatSocket: return QStringLiteral("Tried to bind Chat socket:  ");
    case Operation::BindControlSocket:
    case Operation::BindDataSocket: return QStringLiteral("Tried to bind RTP-MIDI socket:  ");
    case Operation::JoinGroup: return QStringLiteral("Tried to join the multicast group:  ");
    case Operation::StartSender: return QStringLiteral("Tried to start the RTP-MIDI sender:  ");
    case Operation::SendChat: return QStringLiteral("Tried to send chat message:  ");
    case Operation::SendProbe: return QStringLiteral("Tried to send Connection_Check:  ");
    case Operation::SendProbeReply: return QStringLiteral("Tried to send Connection_Check_Reply:  ");
    case Operation::ReadMidi: return QStringLiteral("Tried to read MidiSocketRecvBuffer:  ");
    case Operation::SendSessionPacket: return QStringLiteral("Tried to send an RTP-MIDI session packet:  ");
    case Operation::SendData: return QStringLiteral("Tried to send RTP-MIDI data:  ");
    case Operation::ReadGroup: return QStringLiteral("Tried to read from the multicast group:  ");
  }
  return {};
}

// After the reason: which port a bind is about (the reason alone does not say,
// and the chat and data ports are ones the user never typed), and which group.
QString detail(const protocol::SocketFailure& f) {
  const auto below = f.port - 1;
  switch (f.operation) {
    case Operation::BindMidiSocket: return QStringLiteral(" (local port %1, the MIDI port)").arg(f.port);
    case Operation::BindChatSocket:
      return QStringLiteral(" (local port %1, the chat port, one above the Local Host Port %2)").arg(f.port).arg(below);
    case Operation::BindControlSocket: return QStringLiteral(" (local port %1, the control port)").arg(f.port);
    case Operation::BindDataSocket:
      return QStringLiteral(" (local port %1, the data port, one above the Local Host Port %2)").arg(f.port).arg(below);
    case Operation::JoinGroup: {
      const QString on = f.interfaceAddress == htonl(INADDR_ANY) ? QStringLiteral("the system's interface")
                                                                 : net::formatAddress(f.interfaceAddress);
      return QStringLiteral(" (%1:%2 on %3)").arg(net::formatAddress(f.group)).arg(f.port).arg(on);
    }
    default: return {};
  }
}

bool makesSocket(Operation operation) {
  return operation == Operation::CreateMidiSocket || operation == Operation::CreateChatSocket ||
         operation == Operation::CreateSessionSocket;
}

void reportFailure(report::Reporter& reporter, const protocol::SocketFailure& f) {
  reporter.socketError(f.error, context(f.operation),
                       f.floods ? report::Reporter::Flood::Throttle : report::Reporter::Flood::Show, detail(f));
  if (makesSocket(f.operation))
    reporter.report(report::BoxIcon::None, report::kAppTitle, QStringLiteral(" Cannot create socket.....exit program"));
}

QString fieldName(SettingsField field) {
  switch (field) {
    case SettingsField::LocalPort: return QStringLiteral("Local Port");
    case SettingsField::RemotePort: return QStringLiteral("Remote Port");
    case SettingsField::LocalHost: return QStringLiteral("Local IP Address");
    case SettingsField::RemoteHost: return QStringLiteral("Remote IP Address");
    case SettingsField::None: return {};
  }
  return {};
}

QString refusalText(const protocol::Refusal& r) {
  const QString name = fieldName(r.field);
  switch (r.reason) {
    case RefusalReason::PortOutOfRange:
      return QStringLiteral("%1 value must be between %2 and %3").arg(name).arg(r.low).arg(r.high);
    case RefusalReason::NoChatPortAbove:
      return QStringLiteral("%1 value must be at most %2: the chat uses the port above it").arg(name).arg(r.high);
    case RefusalReason::NoDataPortAbove: {
      // Only the local port has always said whose rule it is.
      const QString text = QStringLiteral("%1 value must be between %2 and %3").arg(name).arg(r.low).arg(r.high);
      return r.field == SettingsField::LocalPort ? text + QStringLiteral(" for RTP-MIDI") : text;
    }
    case RefusalReason::OddControlPort: return QStringLiteral("%1 value must be even for RTP-MIDI").arg(name);
    case RefusalReason::OwnSession:
      return QStringLiteral("%1 value is this copy's own port: a session cannot invite itself").arg(name);
    case RefusalReason::HostNotFound:
      return QStringLiteral("Could not find the host name %1 for %2").arg(report::quotedValue(r.value), name);
    case RefusalReason::NotAnAddress: return QStringLiteral("Invalid format for ") + name;
    case RefusalReason::NotAGroup: {
      // Most often an address a unicast setup left behind: say what clearing it gives.
      const protocol::ProtocolRow& group = protocol::protocolRow(settings::Protocol::Multicast);
      return QStringLiteral("%1 must be a multicast group (224.0.0.0 to 239.255.255.255) or empty for the usual %2:%3")
          .arg(name, group.usualRemote)
          .arg(group.usualPort);
    }
    case RefusalReason::TtlOutOfRange:
      return QStringLiteral("TTL value must be between %1 and %2").arg(r.low).arg(r.high);
  }
  return {};
}

// One box lists them all; its text is its own context, so a repeat never stacks on itself.
void reportRefused(report::Reporter& reporter, const protocol::ValuesRefused& refused) {
  QStringList lines;
  for (const protocol::Refusal& r : refused.refusals) lines << refusalText(r);
  reporter.report(report::BoxIcon::Exclamation, QString::fromLatin1(kRefusedValueTitle), lines.join(u'\n'));
}

QString wireName(protocol::Wire wire) {
  switch (wire) {
    case protocol::Wire::Classic: return QStringLiteral("classic MIDI datagrams");
    case protocol::Wire::RtpSession: return QStringLiteral("RTP-MIDI invitations");
    case protocol::Wire::RtpData: return QStringLiteral("RTP-MIDI data");
    case protocol::Wire::NetworkMidi2: return QStringLiteral("Network MIDI 2.0 packets");
  }
  return {};
}

// The other way to mend it, on the peer's side.
QString peerMend(settings::Protocol listener) {
  switch (listener) {
    case settings::Protocol::Classic: return QStringLiteral("give the peer the classic port");
    case settings::Protocol::Rtp: return QStringLiteral("set the peer to RTP-MIDI");
    case settings::Protocol::Multicast: return QStringLiteral("keep the peer off the group's port");
    case settings::Protocol::Midi2: return QStringLiteral("set the peer to Network MIDI 2.0");
  }
  return {};
}

// "This port gets RTP-MIDI invitations: choose RTP-MIDI, or give the peer the classic port".
QString otherWireLine(const protocol::OtherWireHeard& heard) {
  const QString gets = QStringLiteral("This port gets %1").arg(wireName(heard.heard));
  const auto speaks = heard.heard == protocol::Wire::Classic        ? settings::Protocol::Classic
                      : heard.heard == protocol::Wire::NetworkMidi2 ? settings::Protocol::Midi2
                                                                    : settings::Protocol::Rtp;
  return gets + QStringLiteral(": choose %1, or %2").arg(protocol::protocolRow(speaks).label, peerMend(heard.listener));
}

struct Shown {
  report::Reporter& reporter;
  QString operator()(const protocol::SocketFailure& f) const {
    reportFailure(reporter, f);
    return {};
  }
  QString operator()(const protocol::ValuesRefused& r) const {
    reportRefused(reporter, r);
    return {};
  }
  QString operator()(const protocol::OtherWireHeard& heard) const { return otherWireLine(heard); }
};

}  // namespace

QString reportProblem(report::Reporter& reporter, const protocol::PeerProblem& problem) {
  return std::visit(Shown{reporter}, problem);
}

QString keyFileText(const settings::KeyFile& read, const QString& path, QLatin1StringView option) {
  using settings::KeyFileError;
  const QString file = QStringLiteral("%1 '%2'").arg(option, report::quotedValue(path));
  const bool key = option == QLatin1StringView("--key-file");
  switch (read.error) {
    case KeyFileError::None: break;
    case KeyFileError::Missing: return file + QStringLiteral(": no such file");
    case KeyFileError::Unreadable:
      return file + QStringLiteral(": cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(read.errnoValue)));
    case KeyFileError::OpenToOthers:
      return file + QStringLiteral(
                        ": its group or others may read or write it, so it is no secret: chmod 600 it (and make a "
                        "new %1)")
                        .arg(key ? QStringLiteral("key") : QStringLiteral("secret"));
    case KeyFileError::BadLine: return file + QStringLiteral(": line %1 is no user:password").arg(read.line);
    case KeyFileError::TooShort:
      if (!key) return file + QStringLiteral(": it is empty");
      return file + QStringLiteral(": fewer than %1 bytes; make one with: head -c 32 /dev/urandom > FILE")
                        .arg(settings::kMinKeyBytes);
    case KeyFileError::TooLong:
      return file + QStringLiteral(": more than %1 bytes, which is no key file").arg(settings::kMaxKeyBytes);
  }
  return {};
}

QString keyUnusedText() {
  return QStringLiteral("The key of --key-file tags only classic links: this one carries no tag");
}

QString keyWithOtherProtocolText() {
  return QStringLiteral(
      "--key-file goes with the classic protocol (the one remembered is not: add --protocol classic)");
}

}  // namespace strandlink::link
