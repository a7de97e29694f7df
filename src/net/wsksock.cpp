// Stub: being written.
#include "net/wsksock.h"

namespace strandlink::net {
QString SocketErrorText(int) { return {}; }
int socketErrorFromErrno(int) { return 0; }
int socketErrorFromLookup(int) { return 0; }
void ReportNetworkError(Session&, int, const QString&, Reporter::Flood) {}
}
