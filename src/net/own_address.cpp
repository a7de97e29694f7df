#include "net/own_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace strandlink::net {

namespace {

// Connecting a datagram socket sends nothing: it only asks the routing table
// which source address a datagram to anywhere outside would leave from.
std::uint32_t defaultRouteSource() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kNoAddress;
  sockaddr_in outside{};
  outside.sin_family = AF_INET;
  outside.sin_port = htons(9);
  outside.sin_addr.s_addr = htonl(0xC6336401u);  // 198.51.100.1, a documentation address
  sockaddr_in own{};
  socklen_t length = sizeof own;
  std::uint32_t found = kNoAddress;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&outside), sizeof outside) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&own), &length) == 0 && own.sin_addr.s_addr != 0)
    found = own.sin_addr.s_addr;
  ::close(fd);
  return found;
}

// A network without a gateway (a studio's own switch) has no default route.
std::uint32_t firstInterfaceAddress() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return kNoAddress;
  std::uint32_t found = kNoAddress;
  for (const ifaddrs* i = list; i != nullptr && found == kNoAddress; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_UP) == 0) continue;
    const std::uint32_t a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr;
    if (!isLoopback(a)) found = a;
  }
  ::freeifaddrs(list);
  return found;
}

}  // namespace

Resolved ownAddress(const std::string& hostName) {
  const Resolved named = lookUpHost(hostName);
  if (named.usable() && !isLoopback(named.address)) return named;
  for (const std::uint32_t a : {defaultRouteSource(), firstInterfaceAddress()})
    if (a != kNoAddress && !isLoopback(a)) return {a, SocketError::Ok};
  return named;
}

}  // namespace strandlink::net
