// What a protocol has to tell the user that is no problem, as data: the link
// words it (PeerSink::peerNotice) and shows it as a line.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "protocol/admission.h"
#include "protocol/rtp/decode_error.h"
#include "protocol/rtp/session_output.h"

namespace strandlink::protocol {

// The classic port that read it.
enum class ClassicPort : std::uint8_t { Midi, Chat };

// Datagrams longer than the port reads, counted since the last such notice.
struct OversizeIgnored {
  ClassicPort port = ClassicPort::Midi;
  int readLength = 0;  // the longest datagram the port takes
  std::uint64_t count = 0;
  std::uint32_t lastHost = 0;  // the last sender's, in network byte order
  std::uint16_t lastPort = 0;
};

// Bytes from the multicast group that are no whole MIDI message, since the last notice.
struct GarbageDropped {
  std::uint64_t pieces = 0;
};

// An RTP-MIDI packet that would not decode; untold counts it and those held back before it.
struct MalformedDropped {
  std::string host;
  rtp::DecodeError error = rtp::DecodeError::None;
  std::uint64_t untold = 1;
};

// A datagram without the shared key's tag came to a keyed classic link; told
// once a session, every such datagram counted in the figures.
struct KeyMissing {
  std::uint32_t host = 0;  // the sender's, in network byte order
  std::uint16_t port = 0;
};

struct SessionUp {
  std::string peerName;
};

struct SessionEnded {
  rtp::DownReason reason = rtp::DownReason::None;
  std::string peerName;  // the participant's, where it gave one
};

// The invited peer answered NO (ours is asked again every 5 s).
struct InvitationRefused {};

// What kept a refused inviter out: who alone may link.
enum class KeptOut : std::uint8_t {
  PeerFilter,  // the remote's host
  OnlyRemote,  // the remote's host and port
  Busy,        // the peer of the session up
  NotListed,   // the inviters allowed
  RefusedByUser,
  TooManyAsking,  // others wait for the user's answer
  Full,           // the most participants a session takes are in it
  NotAdmitted,
};

// The sessions an inviter asks to join.
enum class InvitedTo : std::uint8_t { RtpMidi, NetworkMidi2 };

// This side answered an inviter NO; each inviter is told once.
struct InviterRefused {
  std::string name;  // as the inviter gave it, maybe empty
  rtp::PeerAddress from;
  KeptOut keptOut = KeptOut::NotAdmitted;
  rtp::PeerAddress remote;  // the remote in the settings
  std::string sessionPeer;  // the name of the peer of the session up
  InvitedTo to = InvitedTo::RtpMidi;
};

// What of the admission kept out an inviter it refused.
inline KeptOut keptOutBy(const Admission& admission, const Inviter& inviter) {
  if (admission.mode() == settings::Admission::Listed) return KeptOut::NotListed;
  return admission.refusedByUser(inviter) ? KeptOut::RefusedByUser : KeptOut::TooManyAsking;
}

// An inviter this side does not know waits for the user's answer (Link::answerInviter).
struct InviterAsks {
  std::string name;  // as the inviter gave it, maybe empty
  rtp::PeerAddress from;
  InvitedTo to = InvitedTo::RtpMidi;
};

// Network MIDI 2.0: a session with a peer (one of a host's clients, or our
// host) came up or ended, and why an invitation of ours went nowhere.
enum class UmpEnd : std::uint8_t { PeerLeft, PeerRestarted, NoAnswer };
enum class UmpRefusal : std::uint8_t { NoAnswer, Declined, Busy, WantsSecret, SecretRefused };
struct UmpSessionUp {
  std::string peerName;
};
struct UmpSessionEnded {
  std::string peerName;
  UmpEnd reason = UmpEnd::PeerLeft;
};
// Said once until a session comes up: the invitation is repeated every few seconds.
struct UmpInvitationRefused {
  UmpRefusal refusal = UmpRefusal::NoAnswer;
};

// A host turned a client away: its proof was wrong, or came before the delay of
// its last failure passed; the next is judged in waitSeconds at the earliest.
struct UmpProofRefused {
  std::string name;
  rtp::PeerAddress from;
  bool early = false;
  int waitSeconds = 0;
};

using PeerNotice = std::variant<OversizeIgnored, GarbageDropped, MalformedDropped, KeyMissing, SessionUp, SessionEnded,
                                InvitationRefused, InviterRefused, InviterAsks, UmpSessionUp, UmpSessionEnded,
                                UmpInvitationRefused, UmpProofRefused>;

}  // namespace strandlink::protocol
