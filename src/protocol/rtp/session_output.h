// What the session logic asks of whoever owns the sockets: datagrams to send, from
// the control port or the data port, and changes of the session for the link.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/rtp/session_packet.h"

namespace strandlink::protocol::rtp {

// An IP address in text form, as the socket layer prints it, and a UDP port.
struct PeerAddress {
  std::string host;
  std::uint16_t port = 0;
  friend bool operator==(const PeerAddress&, const PeerAddress&) = default;
};

// The even control port P, or the data port P + 1 that also carries RTP.
enum class SessionPort { Control, Data };

struct Outgoing {
  SessionPort from = SessionPort::Control;
  PeerAddress to;
  SessionPacket packet;
};

enum class SessionEventKind {
  Up,              // both ports accepted; MIDI may flow
  Synced,          // the first clock sync of this session finished
  Down,            // see the reason; held notes are to be released
  Refused,         // the invited peer answered NO
  RefusedInviter,  // this side answered NO: see the refusal and the inviter
  InviterWaits,    // an inviter the user is to be asked about went unanswered
};

enum class DownReason { None, Stopped, PeerLeft, PeerRestarted, TimedOut };

// Why an inviter got NO.
enum class Refusal { None, OnlyRemote, NotAdmitted, Busy };

struct SessionEvent {
  SessionEvent(SessionEventKind k = SessionEventKind::Up, DownReason r = DownReason::None) : kind(k), reason(r) {}

  SessionEventKind kind = SessionEventKind::Up;
  DownReason reason = DownReason::None;
  Refusal refusal = Refusal::None;
  std::string inviterName;  // the refused inviter's
  PeerAddress inviter;
  friend bool operator==(const SessionEvent&, const SessionEvent&) = default;
};

}  // namespace strandlink::protocol::rtp
