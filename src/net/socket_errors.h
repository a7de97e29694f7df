// Socket errors as the user sees them: numbered errors with fixed descriptions,
// and the one mapping from errno (and from name-lookup codes) onto those numbers.
#pragma once

#include <QString>

namespace strandlink::net {

// The numbers the descriptions are keyed by. Only the ones the program names
// itself are spelled out here; the table holds them all.
enum SocketError : int {
  kSocketOk = 0,
  kSocketInterrupted = 10004,
  kSocketBadAddress = 10014,
  kSocketInvalidArgument = 10022,
  kSocketWouldBlock = 10035,
  kSocketMessageTooLong = 10040,
  kSocketAddressInUse = 10048,
  kSocketAddressNotAvailable = 10049,
  kSocketConnectionReset = 10054,
  kSocketConnectionRefused = 10061,
  kSocketHostNotFound = 11001,
  kSocketTryAgain = 11002,
  kSocketNoRecovery = 11003,
  kSocketNoData = 11004,
};

// The description of a socket error number; empty for a number without one.
QString socketErrorText(int error);

// errno turned into a socket error number; an errno without a row maps to
// kSocketInvalidArgument, so that a failure always reads as one.
int socketErrorFromErrno(int err);
// A getaddrinfo EAI_* code turned into a socket error number (0 for success).
int socketErrorFromLookup(int eaiCode);

// Whether an error only echoes an ICMP "port unreachable" for an earlier datagram
// of ours: the peer's program is not running, which the connection check shows.
bool isUnreachableEcho(int error);

}  // namespace strandlink::net
