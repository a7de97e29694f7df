// A SysEx message of any length (two at least) whose data bytes vary with their
// place, and with the seed, so that a byte lost, doubled or moved shows.
#pragma once

#include <cstdint>
#include <vector>

namespace strandlink::test {

inline std::vector<std::uint8_t> sysExOf(std::size_t size, std::uint8_t seed = 0) {
  std::vector<std::uint8_t> m(size < 2 ? 2 : size);
  for (std::size_t i = 1; i + 1 < m.size(); ++i) m[i] = std::uint8_t((i * 7 + i / 128 + seed) & 0x7F);
  m.front() = 0xF0, m.back() = 0xF7;
  return m;
}

}  // namespace strandlink::test
