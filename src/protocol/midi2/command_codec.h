// The wire of a Network MIDI 2.0 link: a datagram is the signature "MIDI" and then
// command packets back to back, each one header word (code, payload length in
// words, two bytes of its own) and its payload words, all big-endian. Pure
// functions from commands to bytes and back; nothing here keeps state.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace strandlink::protocol::midi2 {

enum class CommandCode : std::uint8_t {
  Invitation = 0x01,
  InvitationWithAuth = 0x02,
  InvitationWithUserAuth = 0x03,
  Accepted = 0x10,
  Pending = 0x11,
  AuthRequired = 0x12,
  UserAuthRequired = 0x13,
  Ping = 0x20,
  PingReply = 0x21,
  RetransmitRequest = 0x80,
  RetransmitError = 0x81,
  SessionReset = 0x82,
  SessionResetReply = 0x83,
  Nak = 0x8F,
  // A NAK as one older host numbers it: taken as a NAK, never answered.
  OtherNak = 0x7F,
  Bye = 0xF0,
  ByeReply = 0xF1,
  UmpData = 0xFF,
};

enum class NakReason : std::uint8_t { Other = 0x00, NotSupported = 0x01, NotExpected = 0x02, Malformed = 0x03 };

enum class ByeReason : std::uint8_t {
  Unknown = 0x00,
  UserTerminated = 0x01,
  PowerDown = 0x02,
  TooManyMissing = 0x03,
  Timeout = 0x04,
  NotEstablished = 0x05,
  NoPendingSession = 0x06,
  ProtocolError = 0x07,
  TooManySessions = 0x40,
  AuthWithoutChallenge = 0x41,
  Rejected = 0x42,
  AuthFailed = 0x43,
  UserNotFound = 0x44,
  NoMatchingAuth = 0x45,
  InvitationCanceled = 0x80,
};

inline constexpr std::uint8_t kSignature[4] = {'M', 'I', 'D', 'I'};
// The largest datagram sent: larger ones would be cut or fragmented on the way.
inline constexpr std::size_t kMaxDatagram = 1400;
// The longest strings kept from a peer, in bytes.
inline constexpr std::size_t kMaxNameBytes = 98;
inline constexpr std::size_t kMaxInstanceIdBytes = 42;

// One command as read: its header's fields and a view of its payload words, still
// big-endian in the datagram.
struct Command {
  std::uint8_t code = 0;
  std::uint8_t byte2 = 0;
  std::uint8_t byte3 = 0;
  std::span<const std::uint8_t> payload;  // a whole number of words

  std::uint16_t data() const { return std::uint16_t(byte2 << 8 | byte3); }
  std::size_t words() const { return payload.size() / 4; }
  std::uint32_t word(std::size_t i) const;
  std::uint32_t header() const;
};

enum class DatagramError : std::uint8_t {
  None,
  NoSignature,   // not ours: ignored
  NotWords,      // a length that is no whole number of words
  LengthPastEnd  // a command's payload runs past the datagram: it and what follows are dropped
};

// Splits a datagram into its commands; those before a fault are kept.
[[nodiscard]] DatagramError readDatagram(std::span<const std::uint8_t> datagram, std::vector<Command>& commands);

// A name and instance id as an invitation or its reply carries them.
struct Identity {
  std::string name;        // UTF-8
  std::string instanceId;  // printable ASCII
  friend bool operator==(const Identity&, const Identity&) = default;
};

// The identity of an Invitation, Accepted or Pending (offset 0) or of a challenge
// (after its four-word nonce): false when the name's length runs past the payload.
[[nodiscard]] bool readIdentity(const Command& command, Identity& identity, std::size_t skipWords = 0);
// Text after skipWords, cut at its first NUL.
std::string readText(const Command& command, std::size_t skipWords);

// Appends commands to a datagram that starts with the signature (beginDatagram).
void beginDatagram(std::vector<std::uint8_t>& out);
void appendCommand(std::vector<std::uint8_t>& out, CommandCode code, std::uint8_t byte2, std::uint8_t byte3,
                   std::span<const std::uint32_t> payload = {});
void appendInvitation(std::vector<std::uint8_t>& out, CommandCode code, const Identity& identity,
                      std::uint8_t byte3 = 0);
void appendPing(std::vector<std::uint8_t>& out, CommandCode code, std::uint32_t id);
void appendBye(std::vector<std::uint8_t>& out, ByeReason reason, std::string_view text = {});
void appendNak(std::vector<std::uint8_t>& out, NakReason reason, std::uint32_t nakedHeader);
void appendUmpData(std::vector<std::uint8_t>& out, std::uint16_t sequence, std::span<const std::uint32_t> words);
void appendRetransmitRequest(std::vector<std::uint8_t>& out, std::uint16_t first, std::uint16_t count);
void appendRetransmitError(std::vector<std::uint8_t>& out, std::uint8_t reason, std::uint16_t sequence);

// Bytes a command of that many payload words takes.
constexpr std::size_t commandBytes(std::size_t words) { return 4 + 4 * words; }

// Whether a is later than b in the wrapping 16-bit numbering, and by how much
// (negative: earlier).
constexpr int sequenceDistance(std::uint16_t from, std::uint16_t to) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(to - from));
}

}  // namespace strandlink::protocol::midi2
