// An RTP-MIDI data packet as it arrives: the RTP header, the MIDI command section
// and, when its J flag is set, a recovery journal (see journal_codec.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/rtp/decode_error.h"
#include "protocol/rtp/journal_chapters.h"
#include "protocol/rtp/midi_list.h"

namespace strandlink::protocol::rtp {

// The dynamic payload type the common peers use for RTP-MIDI.
inline constexpr std::uint8_t kPayloadType = 0x61;
// The RTP timestamp's clock, in ticks a second, as the common peers run it.
inline constexpr std::uint32_t kClockRate = 10000;
// The most payload (command section and journal) this side puts in one packet.
inline constexpr std::size_t kMaxPayload = 1280;
inline constexpr std::size_t kRtpHeaderSize = 12;

struct RtpHeader {
  bool marker = false;
  std::uint8_t payloadType = kPayloadType;
  std::uint16_t sequence = 0;
  std::uint32_t timestamp = 0;
  std::uint32_t ssrc = 0;
};

struct MidiPacket {
  RtpHeader header;
  bool phantomStatus = false;  // P: the first command's status was not in the source
  bool hadJournal = false;     // J: a journal followed
  std::optional<RecoveryJournal> journal;
  std::vector<TimedCommand> commands;
};

// Appends the 12 octets of an RTP header: version 2, no padding, extension or
// contributing sources.
void appendRtpHeader(std::vector<std::uint8_t>& out, const RtpHeader& header);

// Decodes a whole datagram. Anything wrong (a length past the end, a command cut
// short, a journal whose lengths do not add up) fails the whole packet: a peer that
// garbles one part cannot be trusted with the rest.
DecodeError decodeMidiPacket(std::span<const std::uint8_t> datagram, MidiPacket& out);

}  // namespace strandlink::protocol::rtp
