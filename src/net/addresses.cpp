#include "net/addresses.h"

#include "net/socket_service.h"
#include "session/session.h"

namespace strandlink::net {

namespace {

constexpr char16_t kBackspace = 8;
constexpr char16_t kLineFeed = 10;
constexpr char16_t kCarriageReturn = 13;

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool isEditKey(char16_t c) { return c == kBackspace || c == kLineFeed || c == kCarriageReturn; }
bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

// Highest port a box may name: the chat port is one above it and must exist too.
constexpr double kHighestPort = 65534.0;

bool portInRange(const QString& text) {
  double value = 0.0;
  return parsePortValue(text, value) && value >= 1.0 && value <= kHighestPort;
}

bool usableAddress(const QString& text) {
  if (text.isEmpty()) return false;
  const std::uint32_t a = ResolveHostAddress(text);
  return a != 0 && a != kInaddrNone;
}

// A plain box: each message is its own context, so a repeat never stacks on itself.
void reject(Session& s, const QString& message) {
  const int answer = s.reporter.report(message, BoxIcon::Exclamation, QStringLiteral("Network Error"), message);
  s.state.LastApiResult.store(answer);
}

}  // namespace

bool addressKeyAllowed(char16_t key) { return isDigit(key) || key == u'.' || isEditKey(key); }

bool portKeyAllowed(char16_t key) { return isDigit(key) || isEditKey(key); }

// Pasted or dropped text keeps only what could be typed as text; line ends and
// backspaces are keys, not content of a one-line box.
QString filterAddressText(const QString& text) {
  QString out;
  for (QChar c : text) {
    if (isDigit(c.unicode()) || c == u'.') out.append(c);
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

// Accepts blanks, then digits with at most one decimal point among or before
// them, then blanks. No signs or exponents: the boxes let none be typed, and a
// settings file that holds one is better refused than guessed at.
bool parsePortValue(const QString& text, double& value) {
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
      return false;
    }
  }
  if (!sawDigit) return false;
  bool ok = false;
  const double v = text.mid(begin, end - begin).toDouble(&ok);
  if (!ok) return false;
  value = v;
  return true;
}

bool ValidateNetworkSettings(Session& s) {
  bool failed = false;

  if (!portInRange(s.view.text(TextControl::txtPortLocal))) {
    reject(s, QStringLiteral("Local Port value must be between 1 and 65535"));
    failed = true;
  }
  if (!portInRange(s.view.text(TextControl::txtRemotePort))) {
    reject(s, QStringLiteral("Remote Port value must be between 1 and 65535"));
    failed = true;
  }

  const QString remote = s.view.text(TextControl::txtIPAddress);
  if (!usableAddress(remote)) {
    reject(s, QStringLiteral("Invalid format for Remote IP Address"));
    // An empty box goes on to the local address; a text that names nothing ends
    // the check here.
    if (!remote.isEmpty()) return true;
    failed = true;
  }

  if (!usableAddress(s.view.text(TextControl::txtIPLocal))) {
    reject(s, QStringLiteral("Invalid format for Local IP Address"));
    failed = true;
  }
  return failed;
}

std::uint32_t ResolveHostAddress(const QString& text) {
  // Single-byte characters as the wire and the settings file use them; anything
  // outside ISO 8859-1 becomes "?", which no address or name contains.
  const std::string bytes = text.toLatin1().toStdString();
  const std::uint32_t a = inetAddr(bytes);
  if (a != kInaddrNone) return a;
  return getHostByName(bytes);
}

}  // namespace strandlink::net
