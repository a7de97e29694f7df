// The address other computers reach this one at. The host name's own address is
// the first choice, but many Linux systems map their name to a loopback address
// (Debian writes "127.0.1.1 name" into /etc/hosts), where nothing on the network
// can reach a socket or a group membership.
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <string>

#include "net/addresses.h"

namespace strandlink::net {

inline bool isLoopback(std::uint32_t addressNetworkOrder) { return (ntohl(addressNetworkOrder) >> 24) == 127; }

// The host name's first IPv4 address when that is no loopback one; otherwise the
// address the system sends from on its default route, or the first address of an
// interface that is up; the host name's own when the computer has no network.
Resolved ownAddress(const std::string& hostName);

}  // namespace strandlink::net
