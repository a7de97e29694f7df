#include "support/forger.h"

#include <arpa/inet.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace strandlink::test {

Forger::Forger() : fd_(::socket(AF_INET, SOCK_RAW, IPPROTO_RAW)) {}

Forger::~Forger() {
  if (fd_ >= 0) ::close(fd_);
}

// The kernel fills in the IP checksum; a UDP checksum of zero means none.
void Forger::send(const char* fromHost, int fromPort, int toPort, const QByteArray& payload) {
  QByteArray packet(int(sizeof(iphdr) + sizeof(udphdr)), '\0');
  packet += payload;
  auto* ip = reinterpret_cast<iphdr*>(packet.data());
  ip->version = 4;
  ip->ihl = 5;
  ip->ttl = 64;
  ip->protocol = IPPROTO_UDP;
  ip->tot_len = htons(std::uint16_t(packet.size()));
  ::inet_pton(AF_INET, fromHost, &ip->saddr);
  ::inet_pton(AF_INET, "127.0.0.1", &ip->daddr);
  auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
  udp->source = htons(std::uint16_t(fromPort));
  udp->dest = htons(std::uint16_t(toPort));
  udp->len = htons(std::uint16_t(sizeof(udphdr) + std::size_t(payload.size())));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = ip->daddr;
  ::sendto(fd_, packet.constData(), std::size_t(packet.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

}  // namespace strandlink::test
