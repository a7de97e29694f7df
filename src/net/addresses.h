// Addresses and ports as the user types them: what the boxes accept, what a port
// text is worth, and host names and dotted addresses turned into IPv4 addresses.
#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>

#include "net/socket_errors.h"

namespace strandlink::net {

// "255.255.255.255": what a text that names no address gives.
inline constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;

// Whether a typed character may enter an address box (what a dotted address or
// a host name is made of: ASCII letters, digits, ".", "-", "_"; and 8, 10, 13) or
// a port box (digits, 8, 10, 13).
bool addressKeyAllowed(char16_t key);
bool portKeyAllowed(char16_t key);
// The text filtered to what the box accepts (paste, drop).
QString filterAddressText(const QString& text);
QString filterPortText(const QString& text);

// A host name: labels of letters, digits and inner hyphens, 253 characters at
// most; digits and dots alone would be a mistyped address.
bool isHostName(const QString& text);
// What an address box may hold: nothing, digits and dots (a dotted address in any
// of inet_addr's forms), or a host name. Only such a text is ever looked up.
bool isAddressText(const QString& text);
// What a port box may hold: nothing, or digits.
bool isPortText(const QString& text);

// The numeric value of a port text: digits with at most one decimal point and
// optional blanks around them (a settings file may hold a fraction).
std::optional<double> portValue(const QString& text);

// An address in network byte order, or the socket error why there is none.
struct Resolved {
  std::uint32_t address = kNoAddress;
  SocketError error = SocketError::Ok;
  // A usable peer or local address: found, and neither 0.0.0.0 nor 255.255.255.255.
  bool usable() const { return error == SocketError::Ok && address != 0 && address != kNoAddress; }
};

// A dotted address with inet_addr's short and octal forms ("10.1" is 10.0.0.1,
// "010.0.0.1" is 8.0.0.1); kNoAddress when the text does not parse.
std::uint32_t parseDottedAddress(const std::string& text);
// The first IPv4 address of a host name (through the system's resolver).
Resolved lookUpHost(const std::string& name);
// A dotted address, or else a host name looked up. Characters outside ISO 8859-1
// become "?", which no address or name holds.
Resolved resolveAddress(const QString& text);

// This computer's host name, or the socket error of asking for it.
struct HostName {
  std::string name;
  SocketError error = SocketError::Ok;
};
HostName localHostName();

// An address in network byte order as dotted text.
QString formatAddress(std::uint32_t addressNetworkOrder);

}  // namespace strandlink::net
