// The once-a-second connection check.
#pragma once

#include <cstdint>

namespace strandlink {
class Session;
}

namespace strandlink::net {

inline constexpr std::uint8_t kConnectionCheck = 0x01;
inline constexpr std::uint8_t kConnectionCheckReply = 0x02;

void tmrCeckConnection_Timer(Session& s);
// A one-byte datagram arrived on the chat socket.
void HandleControlByte(Session& s, std::uint8_t byte);
// Shows the round trips, losses and refused datagrams of the session so far.
void ShowLinkQuality(Session& s);

}  // namespace strandlink::net
