// An IPv4 socket address that two threads can share without a lock: family, port
// and address packed into one 64-bit word (lock-free on every platform we build for).
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdint>

namespace strandlink::net {

class AtomicAddress {
 public:
  void store(const sockaddr_in& a) noexcept {
    packed_.store(
        std::uint64_t(a.sin_addr.s_addr) | (std::uint64_t(a.sin_port) << 32) | (std::uint64_t(a.sin_family) << 48),
        std::memory_order_release);
  }
  sockaddr_in load() const noexcept {
    const std::uint64_t packed = packed_.load(std::memory_order_acquire);
    sockaddr_in a{};
    a.sin_addr.s_addr = static_cast<in_addr_t>(packed & 0xFFFFFFFFu);
    a.sin_port = static_cast<in_port_t>((packed >> 32) & 0xFFFFu);
    a.sin_family = static_cast<sa_family_t>(packed >> 48);
    return a;
  }

 private:
  std::atomic<std::uint64_t> packed_{0};
};

}  // namespace strandlink::net
