#include "protocol/rtp/delta_time.h"

#include <algorithm>

namespace strandlink::protocol::rtp {

std::size_t deltaTimeSize(std::uint32_t ticks) {
  ticks = std::min(ticks, kMaxDeltaTime);
  std::size_t size = 1;
  while (ticks >>= 7) ++size;
  return size;
}

void appendDeltaTime(std::vector<std::uint8_t>& out, std::uint32_t ticks) {
  ticks = std::min(ticks, kMaxDeltaTime);
  for (std::size_t i = deltaTimeSize(ticks); i-- > 0;) {
    const auto septet = static_cast<std::uint8_t>((ticks >> (7 * i)) & 0x7F);
    out.push_back(i == 0 ? septet : static_cast<std::uint8_t>(septet | 0x80));
  }
}

DecodeError readDeltaTime(ByteReader& in, std::uint32_t& ticks) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    std::uint8_t octet = 0;
    if (!in.read(octet)) return DecodeError::Truncated;
    value = (value << 7) | (octet & 0x7Fu);
    if (!(octet & 0x80)) {
      ticks = value;
      return DecodeError::None;
    }
  }
  return DecodeError::BadDeltaTime;
}

}  // namespace strandlink::protocol::rtp
