#include "net/addresses.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <QRegularExpression>

#include <array>
#include <cerrno>

#include "net/socket_errors.h"

namespace strandlink::net {

namespace {

constexpr char16_t kBackspace = 8;
constexpr char16_t kLineFeed = 10;
constexpr char16_t kCarriageReturn = 13;

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
// What a dotted address or a host name is made of: ASCII letters, digits, dots,
// hyphens, and the underscore some local names carry.
bool isHostCharacter(char16_t c) {
  return isDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'.' || c == u'-' || c == u'_';
}
bool isEditKey(char16_t c) { return c == kBackspace || c == kLineFeed || c == kCarriageReturn; }
bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

bool hasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// A text of digits and dots that is no address cannot be a host name either (no
// top-level domain is numeric), so it fails at once instead of waiting for a
// name server that may be slow or unreachable.
bool onlyDigitsAndDots(const std::string& text) {
  for (char c : text) {
    if ((c < '0' || c > '9') && c != '.') return false;
  }
  return true;
}

}  // namespace

bool addressKeyAllowed(char16_t key) { return isHostCharacter(key) || isEditKey(key); }

bool portKeyAllowed(char16_t key) { return isDigit(key) || isEditKey(key); }

// Pasted or dropped text keeps only what could be typed as text; line ends and
// backspaces are keys, not content of a one-line box.
QString filterAddressText(const QString& text) {
  QString out;
  for (QChar c : text) {
    if (isHostCharacter(c.unicode())) out.append(c);
  }
  return out;
}

QString filterPortText(const QString& text) {
  QString out;
  for (QChar c : text) {
    if (isDigit(c.unicode())) out.append(c);
  }
  return out;
}

bool isHostName(const QString& text) {
  static const QRegularExpression shape(
      QStringLiteral("^(?=.{1,253}$)[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?"
                     "(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*\\.?$"));
  if (text.size() > 254) return false;  // before the pattern looks at all of it
  bool digitsAndDots = true;
  for (const QChar c : text) digitsAndDots = digitsAndDots && (isDigit(c.unicode()) || c == u'.');
  return !digitsAndDots && shape.match(text).hasMatch();
}

bool isAddressText(const QString& text) {
  if (text.size() > 253) return false;
  bool digitsAndDots = true;
  for (const QChar c : text) digitsAndDots = digitsAndDots && (isDigit(c.unicode()) || c == u'.');
  return digitsAndDots || isHostName(text);
}

bool isPortText(const QString& text) {
  for (const QChar c : text) {
    if (!isDigit(c.unicode())) return false;
  }
  return true;
}

// No signs or exponents: the boxes let none be typed, and a settings file that
// holds one is better refused than guessed at.
std::optional<double> portValue(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  bool sawDigit = false;
  bool sawPoint = false;
  for (qsizetype i = begin; i < end; ++i) {
    const QChar c = text[i];
    if (isDigit(c.unicode())) {
      sawDigit = true;
    } else if (c == u'.' && !sawPoint) {
      sawPoint = true;
    } else {
      return std::nullopt;
    }
  }
  if (!sawDigit) return std::nullopt;
  bool ok = false;
  const double v = text.mid(begin, end - begin).toDouble(&ok);
  if (!ok) return std::nullopt;
  return v;
}

std::uint32_t parseDottedAddress(const std::string& text) {
  if (hasNul(text)) return kNoAddress;
  return ::inet_addr(text.c_str());
}

Resolved lookUpHost(const std::string& name) {
  // A text without a host name's shape (an escape sequence, a megabyte) never
  // reaches the resolver.
  if (name.empty() || hasNul(name) || onlyDigitsAndDots(name) || !isHostName(QString::fromLatin1(name))) {
    return {kNoAddress, SocketError::HostNotFound};
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) return {kNoAddress, rc != 0 ? socketErrorFromLookup(rc) : SocketError::NoData};
  Resolved r{kNoAddress, SocketError::NoData};
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
      r = {reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr, SocketError::Ok};
      break;
    }
  }
  ::freeaddrinfo(found);
  return r;
}

Resolved resolveAddress(const QString& text) {
  std::string bytes;
  bytes.reserve(std::size_t(text.size()));
  for (const char32_t c : text.toUcs4()) bytes.push_back(c <= 0xFF ? char(c) : '?');
  const std::uint32_t dotted = parseDottedAddress(bytes);
  if (dotted != kNoAddress) return {dotted, SocketError::Ok};
  return lookUpHost(bytes);
}

HostName localHostName() {
  std::array<char, 100> buffer{};
  if (::gethostname(buffer.data(), buffer.size()) != 0) return {std::string(), socketErrorFromErrno(errno)};
  buffer.back() = '\0';
  return {std::string(buffer.data()), SocketError::Ok};
}

QString formatAddress(std::uint32_t addressNetworkOrder) {
  const std::uint32_t a = ntohl(addressNetworkOrder);
  return QStringLiteral("%1.%2.%3.%4").arg(a >> 24).arg((a >> 16) & 0xFF).arg((a >> 8) & 0xFF).arg(a & 0xFF);
}

}  // namespace strandlink::net
