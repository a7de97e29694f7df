// What went wrong in a protocol, as data. A protocol hands its problems up to the
// link (PeerSink::peerProblem) and never words them: the link says each in one
// place and decides whether it is a box or a line.
#pragma once

#include <QString>

#include <cstdint>
#include <variant>
#include <vector>

#include "net/socket_errors.h"
#include "settings/preferences.h"

namespace strandlink::protocol {

// One of the four values a Start was refused for, so a front end can take the
// user to it.
enum class SettingsField { None, LocalPort, RemotePort, RemoteHost, LocalHost };

// The socket call that failed. Those that make a socket end the program.
enum class Operation : std::uint8_t {
  CreateMidiSocket,     // classic: the MIDI port's
  CreateChatSocket,     // classic: the chat port's
  CreateSessionSocket,  // RTP-MIDI: the control or the data port's
  BindMidiSocket,
  BindChatSocket,
  BindControlSocket,
  BindDataSocket,
  JoinGroup,
  StartSender,
  SendChat,
  SendProbe,
  SendProbeReply,
  ReadMidi,
  SendSessionPacket,
  SendData,
  ReadGroup,
};

struct SocketFailure {
  Operation operation;
  net::SocketError error = net::SocketError::Ok;
  // Fails per datagram when it fails at all: held back for a while after its box.
  bool floods = false;
  // A bind's local port; the group's port.
  std::uint16_t port = 0;
  // A group joined, and the interface it was joined on (network byte order).
  std::uint32_t group = 0;
  std::uint32_t interfaceAddress = 0;
};

// Why a value of the settings will not do.
enum class RefusalReason : std::uint8_t {
  PortOutOfRange,   // not between low and high
  NoChatPortAbove,  // the chat takes the port above it, and there is none
  NoDataPortAbove,  // an RTP-MIDI control port: the data port is the one above it
  OddControlPort,   // an RTP-MIDI control port is even
  OwnSession,       // an RTP-MIDI remote that is this copy's own control port
  HostNotFound,     // a host name that the lookup did not find
  NotAnAddress,     // a text that is no address
  NotAGroup,        // an address that is no multicast group
  TtlOutOfRange,    // not between low and high (no field holds the TTL)
};

struct Refusal {
  SettingsField field = SettingsField::None;
  RefusalReason reason = RefusalReason::NotAnAddress;
  QString value;  // the text refused
  int low = 0;
  int high = 0;
};

// Every value a Start refused, in the order of the checks: the user sees at once
// all there is to mend.
struct ValuesRefused {
  std::vector<Refusal> refusals;
};

// What arrived plainly in another protocol's wire format.
enum class Wire : std::uint8_t {
  Classic,       // a short message in three or seven bytes, or a control byte of the check
  RtpSession,    // an AppleMIDI session packet: an invitation, a clock exchange ...
  RtpData,       // an RTP-MIDI data packet
  NetworkMidi2,  // a Network MIDI 2.0 packet
};

// Once a session for each wire: a port of the listener's protocol heard a peer
// that speaks another. The datagram was not used.
struct OtherWireHeard {
  settings::Protocol listener;
  Wire heard;
};

using PeerProblem = std::variant<SocketFailure, ValuesRefused, OtherWireHeard>;

}  // namespace strandlink::protocol
