#include "protocol/rtp/midi_packet.h"

#include <algorithm>

#include "protocol/rtp/byte_io.h"
#include "protocol/rtp/journal_codec.h"

namespace strandlink::protocol::rtp {

namespace {

// The part of the datagram after the RTP header: contributing sources and a header
// extension are stepped over, padding is cut off the end.
DecodeError readRtpHeader(std::span<const std::uint8_t> datagram, RtpHeader& header,
                          std::span<const std::uint8_t>& payload) {
  ByteReader in(datagram);
  std::uint8_t first = 0, second = 0;
  if (!in.read(first) || !in.read(second)) return DecodeError::Truncated;
  if (!in.read(header.sequence) || !in.read(header.timestamp) || !in.read(header.ssrc)) return DecodeError::Truncated;
  if ((first >> 6) != 2) return DecodeError::BadRtpVersion;
  header.marker = second & 0x80;
  header.payloadType = second & 0x7F;
  if (!in.skip(4 * std::size_t(first & 0x0F))) return DecodeError::Truncated;
  if (first & 0x10) {
    std::uint16_t profile = 0, words = 0;
    if (!in.read(profile) || !in.read(words) || !in.skip(4 * std::size_t(words))) return DecodeError::Truncated;
  }
  payload = in.rest();
  if (first & 0x20) {
    const std::size_t padding = payload.empty() ? 0 : payload.back();
    if (padding == 0 || padding > payload.size()) return DecodeError::BadPadding;
    payload = payload.first(payload.size() - padding);
  }
  return DecodeError::None;
}

}  // namespace

void appendRtpHeader(std::vector<std::uint8_t>& out, const RtpHeader& header) {
  out.push_back(0x80);  // version 2
  out.push_back(static_cast<std::uint8_t>((header.marker ? 0x80 : 0) | (header.payloadType & 0x7F)));
  appendBigEndian(out, header.sequence);
  appendBigEndian(out, header.timestamp);
  appendBigEndian(out, header.ssrc);
}

DecodeError decodeMidiPacket(std::span<const std::uint8_t> datagram, MidiPacket& out) {
  out = MidiPacket{};
  std::span<const std::uint8_t> payload;
  if (const DecodeError e = readRtpHeader(datagram, out.header, payload); e != DecodeError::None) return e;
  ByteReader in(payload);
  std::uint8_t flags = 0;
  if (!in.read(flags)) return DecodeError::Truncated;
  std::size_t length = flags & 0x0F;
  if (flags & 0x80) {  // B: a 12-bit length, its high four bits in the first octet
    std::uint8_t low = 0;
    if (!in.read(low)) return DecodeError::Truncated;
    length = (length << 8) | low;
  }
  const auto list = in.rest().first(std::min(length, in.remaining()));
  if (!in.skip(length)) return DecodeError::Truncated;
  out.phantomStatus = flags & 0x10;
  out.hadJournal = flags & 0x40;
  if (out.hadJournal) {
    RecoveryJournal journal;
    if (const DecodeError e = decodeJournal(in, journal); e != DecodeError::None) return e;
    out.journal = std::move(journal);
  }
  return decodeMidiList(list, flags & 0x20, out.commands);
}

}  // namespace strandlink::protocol::rtp
