// Stub: being written.
#include "session/statistics.h"

namespace strandlink {
void chkUpdateStats_Click(Session&) {}
QString formatCount(double) { return {}; }
}
