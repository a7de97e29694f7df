// Stub: being written.
#include "net/addresses.h"

namespace strandlink::net {
bool addressKeyAllowed(char16_t) { return true; }
bool portKeyAllowed(char16_t) { return true; }
QString filterAddressText(const QString& t) { return t; }
QString filterPortText(const QString& t) { return t; }
bool parsePortValue(const QString&, double&) { return false; }
bool ValidateNetworkSettings(Session&) { return true; }
std::uint32_t ResolveHostAddress(const QString&) { return 0xFFFFFFFFu; }
}
