#include "protocol/rtp/session_packet.h"

#include <algorithm>

#include "protocol/rtp/byte_io.h"

namespace strandlink::protocol::rtp {

namespace {

constexpr std::uint16_t kSignature = 0xFFFF;
constexpr std::uint16_t kClockSync = 0x434B;         // "CK"
constexpr std::uint16_t kReceiverFeedback = 0x5253;  // "RS"

void encodeInto(std::vector<std::uint8_t>& out, const Exchange& p) {
  appendBigEndian(out, static_cast<std::uint16_t>(p.command));
  appendBigEndian(out, p.version);
  appendBigEndian(out, p.token);
  appendBigEndian(out, p.ssrc);
  if (p.command == ExchangeCommand::End) return;
  out.insert(out.end(), p.name.begin(), p.name.end());
  out.push_back(0);
}

void encodeInto(std::vector<std::uint8_t>& out, const ClockSync& p) {
  appendBigEndian(out, kClockSync);
  appendBigEndian(out, p.ssrc);
  out.insert(out.end(), {p.count, 0, 0, 0});
  for (std::uint64_t t : p.timestamps) appendBigEndian(out, t);
}

void encodeInto(std::vector<std::uint8_t>& out, const ReceiverFeedback& p) {
  appendBigEndian(out, kReceiverFeedback);
  appendBigEndian(out, p.ssrc);
  appendBigEndian(out, p.sequence);
  appendBigEndian(out, std::uint16_t{0});  // the low half of the field is unused
}

DecodeError decodeExchange(ExchangeCommand command, ByteReader& in, SessionPacket& out) {
  Exchange p;
  p.command = command;
  if (!in.read(p.version) || !in.read(p.token) || !in.read(p.ssrc)) return DecodeError::Truncated;
  const auto rest = in.rest();
  if (!rest.empty()) {
    const auto nul = std::find(rest.begin(), rest.end(), std::uint8_t{0});
    if (nul == rest.end()) return DecodeError::NameUnterminated;
    p.name.assign(rest.begin(), nul);
  }
  out = std::move(p);
  return DecodeError::None;
}

DecodeError decodeClockSync(ByteReader& in, SessionPacket& out) {
  ClockSync p;
  if (!in.read(p.ssrc) || !in.read(p.count) || !in.skip(3)) return DecodeError::Truncated;
  for (std::uint64_t& t : p.timestamps)
    if (!in.read(t)) return DecodeError::Truncated;
  if (p.count > 2) return DecodeError::BadSyncCount;
  out = p;
  return DecodeError::None;
}

DecodeError decodeReceiverFeedback(ByteReader& in, SessionPacket& out) {
  ReceiverFeedback p;
  std::uint16_t low = 0;
  if (!in.read(p.ssrc) || !in.read(p.sequence) || !in.read(low)) return DecodeError::Truncated;
  // rtpmidid puts the number in the low half, which Apple's layout leaves 0.
  if (p.sequence == 0) p.sequence = low;
  out = p;
  return DecodeError::None;
}

}  // namespace

bool isSessionPacket(std::span<const std::uint8_t> datagram) {
  return datagram.size() >= 2 && datagram[0] == 0xFF && datagram[1] == 0xFF;
}

std::vector<std::uint8_t> encodeSessionPacket(const SessionPacket& packet) {
  std::vector<std::uint8_t> out;
  appendBigEndian(out, kSignature);
  std::visit([&](const auto& p) { encodeInto(out, p); }, packet);
  return out;
}

DecodeError decodeSessionPacket(std::span<const std::uint8_t> datagram, SessionPacket& out) {
  ByteReader in(datagram);
  std::uint16_t signature = 0, command = 0;
  if (!in.read(signature) || !in.read(command)) return DecodeError::Truncated;
  if (signature != kSignature) return DecodeError::BadSignature;
  switch (command) {
    case static_cast<std::uint16_t>(ExchangeCommand::Invitation):
    case static_cast<std::uint16_t>(ExchangeCommand::Accept):
    case static_cast<std::uint16_t>(ExchangeCommand::Reject):
    case static_cast<std::uint16_t>(ExchangeCommand::End):
      return decodeExchange(static_cast<ExchangeCommand>(command), in, out);
    case kClockSync: return decodeClockSync(in, out);
    case kReceiverFeedback: return decodeReceiverFeedback(in, out);
    default: return DecodeError::UnknownCommand;
  }
}

}  // namespace strandlink::protocol::rtp
