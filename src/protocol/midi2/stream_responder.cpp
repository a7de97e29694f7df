#include "protocol/midi2/stream_responder.h"

#include <algorithm>

namespace strandlink::protocol::midi2 {

namespace {

enum Status : std::uint16_t {
  EndpointDiscovery = 0x000,
  EndpointInfo = 0x001,
  DeviceIdentity = 0x002,
  EndpointName = 0x003,
  InstanceId = 0x004,
  ConfigurationRequest = 0x005,
  ConfigurationNotice = 0x006,
  BlockDiscovery = 0x010,
  BlockInfo = 0x011,
  BlockName = 0x012,
};

constexpr std::uint32_t head(std::uint8_t form, std::uint16_t status) {
  return 0xF0000000u | std::uint32_t(form) << 26 | std::uint32_t(status & 0x3FF) << 16;
}

constexpr std::size_t kMaxEndpointText = 98;  // seven packets' worth
constexpr std::uint8_t kMidi1Protocol = 0x01;

}  // namespace

std::vector<StreamPacket> streamText(std::uint16_t status, std::string_view text, std::size_t first,
                                     std::uint8_t lead) {
  text = text.substr(0, kMaxEndpointText);
  std::vector<StreamPacket> out;
  std::size_t at = 0;
  do {
    StreamPacket p{};
    std::array<std::uint8_t, 14> b{};
    const std::size_t room = first + 12;
    const std::size_t n = std::min(room, text.size() - at);
    std::copy_n(text.begin() + std::ptrdiff_t(at), n, b.begin());
    at += n;
    p[0] = first == 2 ? std::uint32_t(b[0]) << 8 | b[1] : std::uint32_t(lead) << 8 | b[0];
    for (int w = 0; w < 3; ++w)
      p[std::size_t(w + 1)] = std::uint32_t(b[first + 4 * w]) << 24 | std::uint32_t(b[first + 4 * w + 1]) << 16 |
                              std::uint32_t(b[first + 4 * w + 2]) << 8 | b[first + 4 * w + 3];
    out.push_back(p);
  } while (at < text.size());
  const std::size_t pieces = out.size();
  for (std::size_t k = 0; k < pieces; ++k) {
    const std::uint8_t form = pieces == 1 ? 0 : k == 0 ? 1 : k + 1 == pieces ? 3 : 2;
    out[k][0] |= head(form, status);
  }
  return out;
}

std::vector<StreamPacket> answerStream(std::span<const std::uint32_t, 4> packet, const EndpointDescription& us) {
  const std::uint16_t status = std::uint16_t((packet[0] >> 16) & 0x3FF);
  std::vector<StreamPacket> out;
  const auto add = [&](const std::vector<StreamPacket>& more) { out.insert(out.end(), more.begin(), more.end()); };
  if (status == EndpointDiscovery) {
    const std::uint8_t filter = std::uint8_t(packet[1]);
    // Version 1.1; static blocks, one of them; MIDI 1.0 only, no timestamps.
    if (filter & 0x01) out.push_back({head(0, EndpointInfo) | 0x0101, 0x81000100, 0, 0});
    // A manufacturer id kept for those who have none.
    if (filter & 0x02) out.push_back({head(0, DeviceIdentity), 0x007D0000, 0, 0});
    if (filter & 0x04) add(streamText(EndpointName, us.name, 2));
    if (filter & 0x08) add(streamText(InstanceId, us.instanceId, 2));
    if (filter & 0x10) out.push_back({head(0, ConfigurationNotice) | std::uint32_t(kMidi1Protocol) << 8, 0, 0, 0});
  } else if (status == BlockDiscovery) {
    const std::uint8_t block = std::uint8_t(packet[0] >> 8);
    const std::uint8_t filter = std::uint8_t(packet[0]);
    if (block != 0 && block != 0xFF) return out;
    // Active block 0; both ways as sender and receiver; MIDI 1.0; group 0, one group.
    if (filter & 0x01) out.push_back({head(0, BlockInfo) | 0x8000 | 0x37, 0x00010000, 0, 0});
    if (filter & 0x02) add(streamText(BlockName, us.name, 1, 0));
  } else if (status == ConfigurationRequest) {
    // We speak MIDI 1.0 whatever was asked for, and say so.
    out.push_back({head(0, ConfigurationNotice) | std::uint32_t(kMidi1Protocol) << 8, 0, 0, 0});
  }
  return out;
}

}  // namespace strandlink::protocol::midi2
