// Socket error numbers and their texts: one table, one mapping from errno.
#pragma once

#include <QString>

namespace strandlink::net {

// The description of a socket error number, or an empty text for numbers without one.
QString SocketErrorText(int code);

// errno (or a getaddrinfo EAI_* code, with isLookup) turned into the socket
// service's error number; an errno without a row maps to 0.
int socketErrorFromErrno(int err);
int socketErrorFromLookup(int eaiCode);

}  // namespace strandlink::net

#include "session/reporter.h"

namespace strandlink {
class Session;
}

namespace strandlink::net {

// The "Network Error" box: the context text followed by the error's description.
// Per-datagram contexts pass Flood::Throttle so a flood cannot bury the user.
void ReportNetworkError(Session& s, int code, const QString& context,
                        Reporter::Flood flood = Reporter::Flood::Show);

}  // namespace strandlink::net
