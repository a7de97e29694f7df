// The session packets of Apple's network MIDI driver, which every RTP-MIDI peer
// speaks on its control port and its data port: invitation, acceptance, refusal
// and end (IN, OK, NO, BY), clock sync (CK) and receiver feedback (RS). Each starts
// with the signature 0xFFFF and two ASCII letters; numbers are big-endian.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "protocol/rtp/decode_error.h"

namespace strandlink::protocol::rtp {

enum class ExchangeCommand : std::uint16_t {
  Invitation = 0x494E,  // "IN"
  Accept = 0x4F4B,      // "OK"
  Reject = 0x4E4F,      // "NO"
  End = 0x4259,         // "BY"
};

inline constexpr std::uint32_t kSessionProtocolVersion = 2;

// IN, OK, NO and BY share one layout; the name may be left out (BY carries none).
struct Exchange {
  ExchangeCommand command = ExchangeCommand::Invitation;
  std::uint32_t version = kSessionProtocolVersion;
  std::uint32_t token = 0;  // chosen by the initiator, echoed by the responder
  std::uint32_t ssrc = 0;   // the sender's
  std::string name;         // UTF-8, without the NUL

  friend bool operator==(const Exchange&, const Exchange&) = default;
};

// Three rounds: the initiator sends count 0 with its time, the responder answers
// count 1 adding its own, the initiator closes with count 2. Times in 100 µs units.
struct ClockSync {
  std::uint32_t ssrc = 0;
  std::uint8_t count = 0;
  std::array<std::uint64_t, 3> timestamps{};

  friend bool operator==(const ClockSync&, const ClockSync&) = default;
};

// The last RTP sequence number received, so the sender may trim its journal.
struct ReceiverFeedback {
  std::uint32_t ssrc = 0;
  std::uint16_t sequence = 0;

  friend bool operator==(const ReceiverFeedback&, const ReceiverFeedback&) = default;
};

using SessionPacket = std::variant<Exchange, ClockSync, ReceiverFeedback>;

// Whether a datagram is a session packet rather than RTP: both share the data port,
// and an RTP packet of version 2 never starts with 0xFF.
bool isSessionPacket(std::span<const std::uint8_t> datagram);

std::vector<std::uint8_t> encodeSessionPacket(const SessionPacket& packet);
DecodeError decodeSessionPacket(std::span<const std::uint8_t> datagram, SessionPacket& out);

}  // namespace strandlink::protocol::rtp
