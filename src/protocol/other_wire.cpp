#include "protocol/other_wire.h"

#include <algorithm>
#include <array>
#include <utility>

namespace strandlink::protocol {

namespace {

constexpr std::uint8_t kSignatureByte = 0xFF;
constexpr std::size_t kExchangeHeader = 16;  // signature, command, version, token, SSRC
constexpr std::size_t kClockSyncSize = 36;
constexpr std::size_t kFeedbackSize = 12;
constexpr std::uint8_t kRtpVersion2 = 0x80;
constexpr std::uint8_t kRtpMidiPayload = 0x61;
constexpr std::size_t kRtpHeader = 12;
constexpr std::array<std::uint8_t, 4> kMidi2Signature{'M', 'I', 'D', 'I'};

bool command(std::span<const std::uint8_t> d, const char (&name)[3]) {
  return d[2] == std::uint8_t(name[0]) && d[3] == std::uint8_t(name[1]);
}

bool isRtpDataPacket(std::span<const std::uint8_t> d) {
  return d.size() > kRtpHeader && (d[0] & 0xC0) == kRtpVersion2 && (d[1] & 0x7F) == kRtpMidiPayload;
}

bool isNetworkMidi2Packet(std::span<const std::uint8_t> d) {
  return d.size() >= 2 * kMidi2Signature.size() && d.size() % 4 == 0 &&
         std::equal(kMidi2Signature.begin(), kMidi2Signature.end(), d.begin());
}

bool isRtpSessionPacket(std::span<const std::uint8_t> d) {
  if (d.size() < kFeedbackSize || d[0] != kSignatureByte || d[1] != kSignatureByte) return false;
  if (command(d, "CK")) return d.size() == kClockSyncSize;
  if (command(d, "RS")) return d.size() == kFeedbackSize;
  const bool exchange = command(d, "IN") || command(d, "OK") || command(d, "NO") || command(d, "BY");
  // Protocol version 2, the only one there is.
  return exchange && d.size() >= kExchangeHeader && d[4] == 0 && d[5] == 0 && d[6] == 0 && d[7] == 2;
}

}  // namespace

std::optional<Wire> rtpSessionPacket(std::span<const std::uint8_t> d) {
  return isRtpSessionPacket(d) ? std::optional(Wire::RtpSession) : std::nullopt;
}

std::optional<Wire> otherThanClassicMidi(std::span<const std::uint8_t> d) {
  if (const auto session = rtpSessionPacket(d)) return session;
  if (isRtpDataPacket(d)) return Wire::RtpData;
  if (isNetworkMidi2Packet(d)) return Wire::NetworkMidi2;
  return std::nullopt;
}

std::optional<Wire> otherThanRtp(std::span<const std::uint8_t> d) {
  // The probe (0x01) and reply (0x02) of the classic connection check, sent to
  // the port above the MIDI port; a short message with its status byte first.
  const bool control = d.size() == 1 && (d[0] == 0x01 || d[0] == 0x02);
  const bool shortMessage = (d.size() == 3 || d.size() == 7) && d[0] >= 0x80;
  if (control || shortMessage) return Wire::Classic;
  if (isNetworkMidi2Packet(d)) return Wire::NetworkMidi2;
  return std::nullopt;
}

bool OtherWireNotice::heard(std::optional<Wire> wire, PeerSink& sink) {
  if (!wire) return false;
  const auto bit = std::uint8_t(1U << unsigned(*wire));
  const bool first = (std::exchange(said_, std::uint8_t(said_ | bit)) & bit) == 0;
  if (first) sink.peerProblem(OtherWireHeard{listener_, *wire});
  return true;
}

}  // namespace strandlink::protocol
