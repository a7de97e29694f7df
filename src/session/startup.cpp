// Stub: being written.
#include "session/startup.h"

namespace strandlink {
void Form_Load(Session&, const std::function<void()>& show) { if (show) show(); }
void ShowLocalAddress(Session&) {}
QString formatAddress(std::uint32_t) { return {}; }
}
