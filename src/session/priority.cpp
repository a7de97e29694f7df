// Stub: being written.
#include "session/priority.h"

namespace strandlink {
void SetProcessPriority(Session&, std::uint32_t) {}
void optHigh_Click(Session&) {}
void optReal_Click(Session&) {}
}
