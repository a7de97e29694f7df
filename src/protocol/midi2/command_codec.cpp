#include "protocol/midi2/command_codec.h"

#include <algorithm>

namespace strandlink::protocol::midi2 {

namespace {

std::uint32_t bigEndianWord(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void appendWord(std::vector<std::uint8_t>& out, std::uint32_t w) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(w >> shift));
}

// Bytes as words, zero-padded to the next whole word (none added past that).
void appendPadded(std::vector<std::uint8_t>& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
  out.resize(out.size() + (4 - text.size() % 4) % 4, 0);
}

std::size_t paddedWords(std::size_t bytes) { return (bytes + 3) / 4; }

void patchLength(std::vector<std::uint8_t>& out, std::size_t headerAt) {
  out[headerAt + 1] = std::uint8_t((out.size() - headerAt - 4) / 4);
}

std::string cutAtNul(std::span<const std::uint8_t> bytes, std::size_t limit) {
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t(0));
  std::string text(bytes.begin(), end);
  if (text.size() > limit) text.resize(limit);
  return text;
}

}  // namespace

std::uint32_t Command::word(std::size_t i) const { return bigEndianWord(payload.data() + 4 * i); }

std::uint32_t Command::header() const {
  return std::uint32_t(code) << 24 | std::uint32_t(words()) << 16 | std::uint32_t(byte2) << 8 | byte3;
}

DatagramError readDatagram(std::span<const std::uint8_t> datagram, std::vector<Command>& commands) {
  commands.clear();
  if (datagram.size() < 4 || !std::equal(datagram.begin(), datagram.begin() + 4, kSignature))
    return DatagramError::NoSignature;
  if (datagram.size() % 4 != 0) return DatagramError::NotWords;
  std::size_t at = 4;
  while (at < datagram.size()) {
    const std::uint8_t* h = datagram.data() + at;
    const std::size_t bytes = std::size_t(h[1]) * 4;
    if (bytes > datagram.size() - at - 4) return DatagramError::LengthPastEnd;
    commands.push_back({h[0], h[2], h[3], datagram.subspan(at + 4, bytes)});
    at += 4 + bytes;
  }
  return DatagramError::None;
}

bool readIdentity(const Command& command, Identity& identity, std::size_t skipWords) {
  const std::size_t nameWords = command.byte2;
  if (skipWords + nameWords > command.words()) return false;
  const auto rest = command.payload.subspan(skipWords * 4);
  identity.name = cutAtNul(rest.first(nameWords * 4), kMaxNameBytes);
  identity.instanceId = cutAtNul(rest.subspan(nameWords * 4), kMaxInstanceIdBytes);
  return true;
}

std::string readText(const Command& command, std::size_t skipWords) {
  if (skipWords >= command.words()) return {};
  return cutAtNul(command.payload.subspan(skipWords * 4), 1020);
}

void beginDatagram(std::vector<std::uint8_t>& out) { out.assign(std::begin(kSignature), std::end(kSignature)); }

void appendCommand(std::vector<std::uint8_t>& out, CommandCode code, std::uint8_t byte2, std::uint8_t byte3,
                   std::span<const std::uint32_t> payload) {
  appendWord(out, std::uint32_t(code) << 24 | std::uint32_t(payload.size()) << 16 | std::uint32_t(byte2) << 8 | byte3);
  for (const std::uint32_t w : payload) appendWord(out, w);
}

void appendInvitation(std::vector<std::uint8_t>& out, CommandCode code, const Identity& identity, std::uint8_t byte3) {
  const std::string_view name = std::string_view(identity.name).substr(0, kMaxNameBytes);
  const std::string_view id = std::string_view(identity.instanceId).substr(0, kMaxInstanceIdBytes);
  const std::size_t at = out.size();
  appendCommand(out, code, std::uint8_t(paddedWords(name.size())), byte3);
  appendPadded(out, name);
  appendPadded(out, id);
  patchLength(out, at);
}

void appendPing(std::vector<std::uint8_t>& out, CommandCode code, std::uint32_t id) {
  const std::uint32_t payload[] = {id};
  appendCommand(out, code, 0, 0, payload);
}

void appendBye(std::vector<std::uint8_t>& out, ByeReason reason, std::string_view text) {
  const std::size_t at = out.size();
  appendCommand(out, CommandCode::Bye, std::uint8_t(reason), 0);
  appendPadded(out, text.substr(0, 1020));
  patchLength(out, at);
}

void appendNak(std::vector<std::uint8_t>& out, NakReason reason, std::uint32_t nakedHeader) {
  const std::uint32_t payload[] = {nakedHeader};
  appendCommand(out, CommandCode::Nak, std::uint8_t(reason), 0, payload);
}

void appendUmpData(std::vector<std::uint8_t>& out, std::uint16_t sequence, std::span<const std::uint32_t> words) {
  appendCommand(out, CommandCode::UmpData, std::uint8_t(sequence >> 8), std::uint8_t(sequence), words);
}

void appendRetransmitRequest(std::vector<std::uint8_t>& out, std::uint16_t first, std::uint16_t count) {
  const std::uint32_t payload[] = {std::uint32_t(count) << 16};
  appendCommand(out, CommandCode::RetransmitRequest, std::uint8_t(first >> 8), std::uint8_t(first), payload);
}

void appendRetransmitError(std::vector<std::uint8_t>& out, std::uint8_t reason, std::uint16_t sequence) {
  const std::uint32_t payload[] = {std::uint32_t(sequence) << 16};
  appendCommand(out, CommandCode::RetransmitError, reason, 0, payload);
}

}  // namespace strandlink::protocol::midi2
