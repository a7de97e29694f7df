#include "session/session_state.h"

namespace strandlink {

// Layout of the packed word: address (network order) in bits 0-31, port (network
// order) in bits 32-47, family in bits 48-63.
void AtomicAddress::store(const sockaddr_in& a) noexcept {
  const std::uint64_t packed = std::uint64_t(a.sin_addr.s_addr) |
                               (std::uint64_t(a.sin_port) << 32) |
                               (std::uint64_t(a.sin_family) << 48);
  packed_.store(packed, std::memory_order_release);
}

sockaddr_in AtomicAddress::load() const noexcept {
  const std::uint64_t packed = packed_.load(std::memory_order_acquire);
  sockaddr_in a{};
  a.sin_addr.s_addr = static_cast<in_addr_t>(packed & 0xFFFFFFFFu);
  a.sin_port = static_cast<in_port_t>((packed >> 32) & 0xFFFFu);
  a.sin_family = static_cast<sa_family_t>(packed >> 48);
  return a;
}

}  // namespace strandlink
