// The address and port boxes: keystroke filters, the Start check, name resolution.
#pragma once

#include <QString>

#include <cstdint>

namespace strandlink {
class Session;
}

namespace strandlink::net {

// Whether a typed character may enter an address box (digits, ".", 8, 10, 13)
// or a port box (digits, 8, 10, 13).
bool addressKeyAllowed(char16_t key);
bool portKeyAllowed(char16_t key);
// The text filtered to what the box accepts (paste, drop).
QString filterAddressText(const QString& text);
QString filterPortText(const QString& text);

// The numeric value of a port box: digits with optional blanks around them, as a
// double (a settings file may hold a fraction); false when it is not a number.
bool parsePortValue(const QString& text, double& value);

// True when a box is unacceptable, after its "Network Error" box(es).
bool ValidateNetworkSettings(Session& s);

// A dotted address (inet_addr forms) or a host name to an address in network
// byte order; kInaddrNone when neither.
std::uint32_t ResolveHostAddress(const QString& text);

}  // namespace strandlink::net
