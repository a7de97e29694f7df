#include "midi/short_message.h"

namespace strandlink::midi {

int shortMessageLength(std::uint8_t status) {
  if (status < 0x80) return 0;
  if (status < 0xC0) return 3;  // note off/on, poly pressure, controller
  if (status < 0xE0) return 2;  // program change, channel pressure
  if (status < 0xF0) return 3;  // pitch bend
  switch (status) {
    case 0xF1: return 2;        // time code quarter frame
    case 0xF2: return 3;        // song position
    case 0xF3: return 2;        // song select
    case 0xF6: return 1;        // tune request
    case 0xF0: case 0xF4: case 0xF5: case 0xF7: return 0;
    default: return 1;          // 0xF8-0xFF: real-time
  }
}

int unpackShortMessage(std::uint32_t packed, std::uint8_t bytes[3]) {
  bytes[0] = static_cast<std::uint8_t>(packed & 0xFF);
  bytes[1] = static_cast<std::uint8_t>((packed >> 8) & 0xFF);
  bytes[2] = static_cast<std::uint8_t>((packed >> 16) & 0xFF);
  const int length = shortMessageLength(bytes[0]);
  for (int i = 1; i < length; ++i)
    if (bytes[i] & 0x80) return 0;
  return length;
}

std::uint32_t packShortMessage(const std::uint8_t* bytes, std::size_t size) {
  std::uint32_t word = 0;
  for (std::size_t i = 0; i < size && i < 3; ++i) word |= std::uint32_t(bytes[i]) << (8 * i);
  return word;
}

}  // namespace strandlink::midi
