// Socket errors as the user sees them: numbered errors with fixed descriptions,
// and the one mapping from errno (and from name-lookup codes) onto those numbers.
#pragma once

#include <QString>

namespace strandlink::net {

// What a socket call came to, which a caller cannot drop unread. Its value is
// the number the description is keyed by; only the errors the program names
// itself are spelled out here, and socketErrorFromErrno() gives the others.
enum class [[nodiscard]] SocketError : int{
    Ok = 0,
    Interrupted = 10004,
    BadAddress = 10014,
    InvalidArgument = 10022,
    WouldBlock = 10035,
    MessageTooLong = 10040,
    AddressInUse = 10048,
    AddressNotAvailable = 10049,
    ConnectionReset = 10054,
    ConnectionRefused = 10061,
    HostNotFound = 11001,
    TryAgain = 11002,
    NoRecovery = 11003,
    NoData = 11004,
};

constexpr bool failed(SocketError error) { return error != SocketError::Ok; }

// The number an error is known by (10048 for an address in use).
constexpr int socketErrorNumber(SocketError error) { return static_cast<int>(error); }

// The description of an error; empty for one without a description.
QString socketErrorText(SocketError error);

// errno turned into a socket error; an errno without a row maps to
// InvalidArgument, so that a failure always reads as one.
SocketError socketErrorFromErrno(int err);
// A getaddrinfo EAI_* code turned into a socket error (Ok for success).
SocketError socketErrorFromLookup(int eaiCode);

// Whether an error only echoes an ICMP "port unreachable" for an earlier datagram
// of ours: the peer's program is not running, which the connection check shows.
bool isUnreachableEcho(SocketError error);

}  // namespace strandlink::net
