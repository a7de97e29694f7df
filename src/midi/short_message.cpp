#include "midi/short_message.h"

#include <algorithm>

namespace strandlink::midi {

int shortMessageLength(std::uint8_t status) {
  if (status < 0x80) return 0;
  if (status < 0xC0) return 3;  // note off/on, poly pressure, controller
  if (status < 0xE0) return 2;  // program change, channel pressure
  if (status < 0xF0) return 3;  // pitch bend
  switch (status) {
    case 0xF1: return 2;  // time code quarter frame
    case 0xF2: return 3;  // song position
    case 0xF3: return 2;  // song select
    case 0xF6: return 1;  // tune request
    case 0xF0:
    case 0xF4:
    case 0xF5:
    case 0xF7: return 0;
    default: return 1;  // 0xF8-0xFF: real-time
  }
}

ShortMessage ShortMessage::fromBytes(std::span<const std::uint8_t> data) {
  ShortMessage m;
  const std::size_t n = std::min<std::size_t>(data.size(), m.bytes.size());
  std::copy_n(data.begin(), n, m.bytes.begin());
  m.size = static_cast<std::uint8_t>(n);
  return m;
}

ShortMessage ShortMessage::withStatusSize(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  ShortMessage m;
  const int length = shortMessageLength(status);
  m.size = static_cast<std::uint8_t>(length == 0 ? 1 : length);
  m.bytes = {status, length >= 2 ? data1 : std::uint8_t(0), length >= 3 ? data2 : std::uint8_t(0)};
  return m;
}

bool ShortMessage::playable() const {
  const int length = shortMessageLength(bytes[0]);
  if (length == 0 || size < length) return false;
  for (int i = 1; i < length; ++i)
    if (bytes[static_cast<std::size_t>(i)] & 0x80) return false;
  return true;
}

}  // namespace strandlink::midi
