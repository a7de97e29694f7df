#include "protocol/rtp/packet_encoder.h"

#include <algorithm>

#include "protocol/rtp/delta_time.h"

namespace strandlink::protocol::rtp {

namespace {

constexpr std::size_t kLongHeaderSize = 2;
constexpr std::size_t kShortListMax = 15;
// The smallest list worth a packet: one short message, or a SysEx piece of one octet.
constexpr std::size_t kSmallestList = 3;

}  // namespace

PacketEncoder::PacketEncoder(std::uint32_t ssrc, std::uint16_t firstSequence, std::size_t maxPayload)
    : ssrc_(ssrc), sequence_(firstSequence), maxList_(std::max<std::size_t>(maxPayload, 8) - kLongHeaderSize) {}

void PacketEncoder::encode(std::uint32_t timestamp, std::span<const TimedEvent> events, const Reserve& reserve,
                           const Out& out) {
  timestamp_ = timestamp;
  lastOffset_ = 0;
  reserve_ = reserve ? &reserve : nullptr;
  out_ = &out;
  for (const TimedEvent& e : events) {
    if (!e.event.wellFormed()) continue;
    const std::uint32_t offset = std::max(e.offset, lastOffset_);
    if (e.event.isSysEx()) addSysEx(offset, e.event.bytes());
    else addBytes(offset, e.event.bytes());
  }
  flush();
  reserve_ = nullptr;
  out_ = nullptr;
}

std::vector<std::vector<std::uint8_t>> PacketEncoder::encode(std::uint32_t timestamp,
                                                             std::span<const TimedEvent> events) {
  std::vector<std::vector<std::uint8_t>> packets;
  encode(timestamp, events, {}, [&](std::vector<std::uint8_t>& packet) { packets.push_back(std::move(packet)); });
  return packets;
}

// Asked once a packet, when its first command comes: the packets before it are out.
std::size_t PacketEncoder::room() {
  if (!begun_) {
    const std::size_t reserved = reserve_ ? (*reserve_)(sequence_) : 0;
    limit_ = reserved + kSmallestList <= maxList_ ? maxList_ - reserved : maxList_;
    begun_ = true;
  }
  return limit_ > list_.size() ? limit_ - list_.size() : 0;
}

// The first command of a packet goes at the packet's own timestamp (Z = 0).
std::size_t PacketEncoder::deltaSizeFor(std::uint32_t offset) const {
  return list_.empty() ? 0 : deltaTimeSize(offset - lastOffset_);
}

void PacketEncoder::beginCommand(std::uint32_t offset) {
  if (list_.empty()) (void)room(), packetOffset_ = offset;
  else appendDeltaTime(list_, offset - lastOffset_);
  lastOffset_ = offset;
}

void PacketEncoder::addBytes(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
  if (deltaSizeFor(offset) + bytes.size() > room()) flush();
  beginCommand(offset);
  list_.insert(list_.end(), bytes.begin(), bytes.end());
}

// Whole where it fits in this packet or the next; otherwise a first segment fills
// this packet (or the next, when this one could have held it whole), middle
// segments fill the next ones, and a last one closes it.
void PacketEncoder::addSysEx(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
  if (bytes.size() <= maxList_) {
    if (deltaSizeFor(offset) + bytes.size() <= room()) return addBytes(offset, bytes);
    flush();
    if (bytes.size() <= room()) return addBytes(offset, bytes);
  }
  auto data = bytes.subspan(1, bytes.size() - 2);
  std::uint8_t head = 0xF0;
  while (true) {
    const std::size_t overhead = deltaSizeFor(offset) + 2;  // head and tail octets
    if (overhead >= room()) {                               // not even one data octet fits
      flush();
      continue;
    }
    const std::size_t fits = room() - overhead;
    const bool last = data.size() <= fits;
    const auto piece = data.first(std::min(fits, data.size()));
    beginCommand(offset);
    list_.push_back(head);
    list_.insert(list_.end(), piece.begin(), piece.end());
    list_.push_back(last ? 0xF7 : 0xF0);
    if (last) return;
    data = data.subspan(piece.size());
    head = 0xF7;
    flush();
  }
}

void PacketEncoder::flush() {
  begun_ = false;
  if (list_.empty()) return;
  // A list of one octet (a lone real-time byte) gets a delta time of 0 in front
  // (Z = 1): some peers stop reading a list one octet before its end.
  const bool lone = list_.size() == 1;
  if (lone) list_.insert(list_.begin(), 0x00);
  std::vector<std::uint8_t> packet;
  packet.reserve(kRtpHeaderSize + kLongHeaderSize + list_.size());
  appendRtpHeader(packet, RtpHeader{false, kPayloadType, sequence_++, timestamp_ + packetOffset_, ssrc_});
  if (list_.size() <= kShortListMax) {
    packet.push_back(static_cast<std::uint8_t>((lone ? 0x20 : 0) | list_.size()));
  } else {
    packet.push_back(static_cast<std::uint8_t>(0x80 | (list_.size() >> 8)));
    packet.push_back(static_cast<std::uint8_t>(list_.size() & 0xFF));
  }
  packet.insert(packet.end(), list_.begin(), list_.end());
  list_.clear();
  (*out_)(packet);
}

}  // namespace strandlink::protocol::rtp
