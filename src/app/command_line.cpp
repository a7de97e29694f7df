#include "app/command_line.h"

#include <QRegularExpression>

#include <algorithm>
#include <iterator>

#include "net/addresses.h"
#include "protocol/protocol_registry.h"
#include "report/visible_text.h"

namespace strandlink::app {

namespace {

CommandLine fail(const QString& message) {
  CommandLine c;
  c.mode = CommandLine::Mode::Error;
  c.error = message;
  return c;
}

// Four numbers from 0 to 255 with dots; neither 0.0.0.0 nor 255.255.255.255, which
// name no single host.
bool isDottedAddress(const QString& text) {
  static const QRegularExpression shape(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
  const auto m = shape.match(text);
  if (!m.hasMatch()) return false;
  for (int k = 1; k <= 4; ++k)
    if (m.captured(k).toInt() > 255) return false;
  return text != QLatin1String("0.0.0.0") && text != QLatin1String("255.255.255.255");
}

// The chat port is the one above, so 65535 cannot be a MIDI port.
bool isPort(const QString& text) {
  static const QRegularExpression digits(QStringLiteral("^\\d{1,5}$"));
  const int port = text.toInt();
  return digits.match(text).hasMatch() && port >= 1 && port <= 65534;
}

// "--local ADDRESS:PORT" and "--remote HOST:PORT"; an error line, or empty.
QString takeEndpoint(const QString& flag, const QString& value, bool namesAllowed, std::optional<QString>& host,
                     std::optional<QString>& port) {
  const qsizetype colon = value.lastIndexOf(u':');
  const QString h = value.left(colon), p = value.mid(colon + 1);
  if (colon <= 0 || p.isEmpty()) {
    return QStringLiteral("strandlink: %1 needs %2:PORT, for example %3")
        .arg(flag, namesAllowed ? QStringLiteral("HOST") : QStringLiteral("ADDRESS"),
             namesAllowed ? QStringLiteral("192.168.1.20:5000") : QStringLiteral("192.168.1.10:4000"));
  }
  if (!isDottedAddress(h) && !(namesAllowed && net::isHostName(h))) {
    return QStringLiteral("strandlink: %1: '%2' is not %3")
        .arg(flag, report::quotedValue(h),
             namesAllowed ? QStringLiteral("an IPv4 address or a host name")
                          : QStringLiteral("an IPv4 address such as 192.168.1.10"));
  }
  if (!isPort(p)) {
    return QStringLiteral(
               "strandlink: %1: the port must be a whole number from 1 to 65534 (the chat port is "
               "the one above)")
        .arg(flag);
  }
  host = h;
  port = p;
  return {};
}

// "--remote NAME": a value without a colon (one with a colon is HOST:PORT, and
// wrong as such if it is not), nor only digits and dots (an address without its
// port). A host name alone is a session name too: only a session tells its port.
bool namesSession(const QString& value) {
  static const QRegularExpression digitsAndDots(QStringLiteral("^[\\d.]*$"));
  const QString v = value.trimmed();
  return !v.isEmpty() && !v.contains(u':') && !digitsAndDots.match(v).hasMatch();
}

QString needs(bool missing, const char* what) {
  return missing ? QStringLiteral("strandlink: ") + QLatin1String(what) : QString();
}

// Each option with a value checks and stores it: an error line, or empty.
struct ValueOption {
  QLatin1StringView name;
  QString (*take)(CommandLine& c, const QString& value);
};

const ValueOption kValueOptions[] = {
    {QLatin1StringView("--settings"),
     [](CommandLine& c, const QString& v) {
       return needs((c.settingsFile = v).isEmpty(), "--settings needs a file name");
     }},
    {QLatin1StringView("--name"),
     [](CommandLine& c, const QString& v) {
       c.sessionName = v;
       return needs((c.clientName = v).isEmpty(), "--name needs a non-empty name");
     }},
    {QLatin1StringView("--local"),
     [](CommandLine& c, const QString& v) {
       // An address alone names a group's interface; whether that fits is known
       // once every option is read.
       if (!v.contains(u':') && isDottedAddress(v)) {
         c.localWithoutPort = true;
         c.overrides.localHost = v;
         return QString();
       }
       return takeEndpoint(QStringLiteral("--local"), v, false, c.overrides.localHost, c.overrides.localPort);
     }},
    {QLatin1StringView("--remote"),
     [](CommandLine& c, const QString& v) {
       // The last one stands, but with RTP-MIDI, which invites them all (moreRemotes).
       c.remoteValues << v;
       c.remoteSession = namesSession(v) ? v.trimmed() : QString();
       if (!c.remoteSession.isEmpty()) return QString();
       return takeEndpoint(QStringLiteral("--remote"), v, true, c.overrides.remoteHost, c.overrides.remotePort);
     }},
    {QLatin1StringView("--input"),
     [](CommandLine& c, const QString& v) {
       return needs((c.overrides.input = v)->isEmpty(), "--input needs a list position or a port name");
     }},
    {QLatin1StringView("--output"),
     [](CommandLine& c, const QString& v) {
       return needs((c.overrides.output = v)->isEmpty(), "--output needs a list position or a port name");
     }},
    {QLatin1StringView("--priority"),
     [](CommandLine& c, const QString& v) {
       const QString word = v.toLower();
       const bool known = word == QLatin1String("high") || word == QLatin1String("realtime");
       if (known) c.overrides.highPriority = word == QLatin1String("high");
       return needs(!known, "--priority needs high or realtime");
     }},
    {QLatin1StringView("--timing"),
     [](CommandLine& c, const QString& v) {
       const QString word = v.toLower();
       const bool known = word == QLatin1String("immediate") || word == QLatin1String("steady");
       const bool steady = word == QLatin1String("steady");
       if (known) c.overrides.timing = steady ? settings::Timing::Steady : settings::Timing::Immediate;
       return needs(!known, "--timing needs immediate or steady");
     }},
    {QLatin1StringView("--delay"),
     [](CommandLine& c, const QString& v) {
       static const QRegularExpression digits(QStringLiteral("^\\d{1,4}$"));
       const bool fits = digits.match(v).hasMatch() && v.toInt() <= settings::kMaxDelayMs;
       if (fits) c.overrides.delayMs = v.toInt();
       return needs(!fits, "--delay needs a whole number of milliseconds from 0 to 1000 (0: one period)");
     }},
    {QLatin1StringView("--protocol"),
     [](CommandLine& c, const QString& v) {
       c.overrides.protocol = protocol::protocolFromName(v.toLower());
       if (c.overrides.protocol) return QString();
       return QStringLiteral("strandlink: --protocol needs ") +
              protocolNames(QLatin1StringView(", "), QLatin1StringView(" or "));
     }},
    {QLatin1StringView("--ttl"),
     [](CommandLine& c, const QString& v) {
       static const QRegularExpression digits(QStringLiteral("^\\d{1,3}$"));
       const bool fits = digits.match(v).hasMatch() && v.toInt() >= 1 && v.toInt() <= 255;
       if (fits) c.ttl = v.toInt();
       return needs(!fits, "--ttl needs a whole number from 1 to 255");
     }},
    {QLatin1StringView("--admit"),
     [](CommandLine& c, const QString& v) {
       c.admission = settings::admissionFromName(v);
       return needs(!c.admission, "--admit needs anyone, listed or ask");
     }},
    {QLatin1StringView("--allow"),
     [](CommandLine& c, const QString& v) {
       if (!v.trimmed().isEmpty()) c.allowed.append(v.trimmed());
       return needs(v.trimmed().isEmpty(), "--allow needs an address, a host name or a session name");
     }},
    {QLatin1StringView("--key-file"),
     [](CommandLine& c, const QString& v) { return needs((c.keyFile = v).isEmpty(), "--key-file needs a file name"); }},
    {QLatin1StringView("--secret-file"),
     [](CommandLine& c, const QString& v) {
       return needs((c.secretFile = v).isEmpty(), "--secret-file needs a file");
     }},
    {QLatin1StringView("--password-file"),
     [](CommandLine& c, const QString& v) {
       return needs((c.passwordFile = v).isEmpty(), "--password-file needs a file");
     }},
    {QLatin1StringView("--users-file"),
     [](CommandLine& c, const QString& v) { return needs((c.usersFile = v).isEmpty(), "--users-file needs a file"); }},
    {QLatin1StringView("--user"),
     [](CommandLine& c, const QString& v) { return needs((c.user = v).isEmpty(), "--user needs a name"); }},
    {QLatin1StringView("--save-settings"),
     [](CommandLine& c, const QString& v) {
       return needs((c.saveSettingsFile = v).isEmpty(), "--save-settings needs a file name");
     }},
};

struct Flags {
  bool headless = false, list = false, demo = false, peers = false;
  int others = 0;  // options other than --demo
};

bool takeFlag(const QString& name, CommandLine& c, Flags& f) {
  if (name == QLatin1String("--headless")) f.headless = true;
  else if (name == QLatin1String("--peer-filter")) c.peerFilter = true;
  else if (name == QLatin1String("--no-peer-filter")) c.peerFilter = false;
  else if (name == QLatin1String("--thru")) c.thru = true;
  else if (name == QLatin1String("--list-devices")) f.list = true;
  else if (name == QLatin1String("--demo")) f.demo = true;
  else if (name == QLatin1String("--list-peers")) f.peers = true;
  else return false;
  return true;
}

// --list-peers stands alone but for --protocol, which then says whose published
// sessions are listed (and is not remembered).
CommandLine listPeers(CommandLine c, const Flags& f) {
  const std::optional<settings::Protocol> protocol = c.overrides.protocol;
  if (f.others > (protocol ? 2 : 1))
    return fail(QStringLiteral("strandlink: --list-peers takes no other option but --protocol"));
  const protocol::ProtocolRow& listed = protocol::protocolRow(protocol.value_or(protocol::protocols().front().value));
  if (listed.serviceType.isEmpty())
    return fail(QStringLiteral("strandlink: --protocol with --list-peers needs rtp, classic or midi2"));
  c.peerServiceType = listed.serviceType;
  c.overrides.protocol.reset();
  c.mode = CommandLine::Mode::ListPeers;
  return c;
}

// What only a link of one protocol takes: an error line, or empty.
QString protocolMismatch(const CommandLine& c) {
  const auto& protocol = c.overrides.protocol;
  const bool multicast = protocol == settings::Protocol::Multicast;
  if (c.localWithoutPort && !multicast)
    return QStringLiteral(
        "strandlink: --local needs ADDRESS:PORT, for example 192.168.1.20:5000 (an address alone "
        "only with --protocol multicast)");
  if (c.ttl && !multicast) return QStringLiteral("strandlink: --ttl goes with --protocol multicast");
  if (!c.keyFile.isEmpty() && protocol && protocol != settings::Protocol::Classic)
    return QStringLiteral("strandlink: --key-file goes with --protocol classic");
  if (c.authenticates() && protocol != settings::Protocol::Midi2)
    return QStringLiteral("strandlink: --secret-file, --users-file and --user go with --protocol midi2");
  if (c.user.isEmpty() != c.passwordFile.isEmpty())
    return QStringLiteral("strandlink: --user and --password-file go together");
  if (!c.secretFile.isEmpty() && !c.passwordFile.isEmpty())
    return QStringLiteral("strandlink: --secret-file and --password-file exclude each other");
  return {};
}

// An RTP-MIDI link invites every --remote: the first is the remote, as one alone
// would be, the others by address; an error line, or empty.
QString takeMoreRemotes(CommandLine& c) {
  if (!c.overrides.protocol || !protocol::protocolRow(*c.overrides.protocol).invitesSeveral ||
      c.remoteValues.size() < 2)
    return {};
  if (std::size_t(c.remoteValues.size()) > protocol::kMaxSources)
    return QStringLiteral("strandlink: --remote: %1 peers at most in one session").arg(protocol::kMaxSources);
  c.remoteSession = namesSession(c.remoteValues.first()) ? c.remoteValues.first().trimmed() : QString();
  c.overrides.remoteHost.reset();
  c.overrides.remotePort.reset();
  if (c.remoteSession.isEmpty())  // already checked as it was read
    (void)takeEndpoint(QStringLiteral("--remote"), c.remoteValues.first(), true, c.overrides.remoteHost,
                       c.overrides.remotePort);
  for (const QString& v : c.remoteValues.mid(1)) {
    if (namesSession(v))
      return QStringLiteral("strandlink: only the first --remote may name a session; give HOST:PORT");
    std::optional<QString> host, port;
    if (QString error = takeEndpoint(QStringLiteral("--remote"), v, true, host, port); !error.isEmpty()) return error;
    c.moreRemotes.push_back({*host, *port});
  }
  return {};
}

CommandLine withMode(CommandLine c, const Flags& f) {
  using Mode = CommandLine::Mode;
  if (const QString error = takeMoreRemotes(c); !error.isEmpty()) return fail(error);
  if (f.peers) return listPeers(c, f);
  if (const QString mismatch = protocolMismatch(c); !mismatch.isEmpty()) return fail(mismatch);
  if (f.demo && f.others > 0) return fail(QStringLiteral("strandlink: --demo takes no other option"));
  if (f.headless && f.list) return fail(QStringLiteral("strandlink: --headless and --list-devices exclude each other"));
  const bool save = !c.saveSettingsFile.isEmpty();
  if (save && f.list) return fail(QStringLiteral("strandlink: --save-settings and --list-devices exclude each other"));
  if (save && !c.remoteSession.isEmpty())
    return fail(QStringLiteral("strandlink: --save-settings keeps addresses only: give --remote HOST:PORT"));
  if (save && !c.moreRemotes.empty())
    return fail(QStringLiteral("strandlink: --save-settings keeps one remote: give --remote once"));
  if (!c.allowed.isEmpty() && !c.admission) c.admission = settings::Admission::Listed;
  if (f.headless && c.admission == settings::Admission::Ask)
    return fail(QStringLiteral("strandlink: --admit ask needs the window; without one, --admit listed with --allow"));
  c.mode = f.demo       ? Mode::Demo
           : f.list     ? Mode::ListDevices
           : save       ? Mode::SaveSettings
           : f.headless ? Mode::Headless
                        : Mode::Window;
  if (c.authenticates() && c.mode != Mode::Headless)
    return fail(QStringLiteral("strandlink: --secret-file, --users-file and --user go with --headless"));
  if (!c.keyFile.isEmpty() && c.mode != Mode::Headless && c.mode != Mode::Window)
    return fail(QStringLiteral("strandlink: --key-file goes with a link, in the window or --headless"));
  return c;
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
  CommandLine c;
  Flags flags;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    // "--opt=value" and "--opt value" both work for the options with a value.
    QString name = a, value;
    const bool inlineValue = a.startsWith(QLatin1String("--")) && a.contains(QLatin1Char('='));
    if (inlineValue) {
      name = a.section(QLatin1Char('='), 0, 0);
      value = a.section(QLatin1Char('='), 1);
    }
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
      c.mode = CommandLine::Mode::Help;
      return c;
    }
    if (name == QLatin1String("--version")) {
      c.mode = CommandLine::Mode::Version;
      return c;
    }
    if (name != QLatin1String("--demo")) ++flags.others;
    const auto option = std::find_if(std::begin(kValueOptions), std::end(kValueOptions),
                                     [&](const ValueOption& o) { return name == o.name; });
    if (option != std::end(kValueOptions)) {
      if (!inlineValue && i + 1 < arguments.size()) value = arguments[++i];
      if (const QString error = option->take(c, value); !error.isEmpty()) return fail(error);
    } else if (inlineValue || !takeFlag(name, c, flags)) {
      return fail(QStringLiteral("strandlink: unknown option '%1' (try --help)").arg(report::quotedValue(a)));
    }
  }
  return withMode(c, flags);
}

}  // namespace strandlink::app
