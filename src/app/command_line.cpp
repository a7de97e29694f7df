#include "app/command_line.h"

namespace strandlink::app {

namespace {

const QString kUsage = QStringLiteral(
    "Usage: strandlink [--settings FILE] [--name NAME]\n"
    "       strandlink --headless [--settings FILE] [--name NAME] [--[no-]peer-filter]\n"
    "       strandlink --list-devices [--name NAME]\n"
    "\n"
    "Joins the MIDI ports of two computers over the network.\n"
    "\n"
    "  --settings FILE  load FILE once start-up has finished (as File > Open does)\n"
    "  --headless       run without a window: start the link at once and run until\n"
    "                   SIGINT or SIGTERM; chat lines are read from standard input;\n"
    "                   SIGUSR1 releases the notes the peer left sounding (panic)\n"
    "  --peer-filter    take MIDI, probes and chat only from the remote host's address\n"
    "                   (remembered for later runs); --no-peer-filter takes them from\n"
    "                   anywhere again (the default)\n"
    "  --name NAME      the name under which our MIDI ports appear (default Strandlink)\n"
    "  --list-devices   print the numbered MIDI input and output lists and exit\n"
    "  --help           print this text and exit\n"
    "  --version        print the version and exit\n");

CommandLine fail(const QString& message) {
  CommandLine c;
  c.mode = CommandLine::Mode::Error;
  c.error = message;
  return c;
}

}  // namespace

QString usageText() { return kUsage; }

CommandLine parseCommandLine(const QStringList& arguments) {
  CommandLine c;
  bool headless = false, list = false;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    // "--opt=value" and "--opt value" both work for the two options with a value.
    QString name = a, value;
    const bool inlineValue = a.startsWith(QLatin1String("--")) && a.contains(QLatin1Char('='));
    if (inlineValue) {
      name = a.section(QLatin1Char('='), 0, 0);
      value = a.section(QLatin1Char('='), 1);
    }
    auto takeValue = [&](QString& out) -> bool {
      if (!inlineValue) {
        if (i + 1 >= arguments.size()) return false;
        value = arguments[++i];
      }
      out = value;
      return !out.isEmpty();
    };
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
      c.mode = CommandLine::Mode::Help;
      return c;
    } else if (name == QLatin1String("--version")) {
      c.mode = CommandLine::Mode::Version;
      return c;
    } else if (name == QLatin1String("--headless") && !inlineValue) {
      headless = true;
    } else if (name == QLatin1String("--peer-filter") && !inlineValue) {
      c.peerFilter = true;
    } else if (name == QLatin1String("--no-peer-filter") && !inlineValue) {
      c.peerFilter = false;
    } else if (name == QLatin1String("--list-devices") && !inlineValue) {
      list = true;
    } else if (name == QLatin1String("--settings")) {
      if (!takeValue(c.settingsFile)) return fail(QStringLiteral("strandlink: --settings needs a file name"));
    } else if (name == QLatin1String("--name")) {
      if (!takeValue(c.clientName)) return fail(QStringLiteral("strandlink: --name needs a non-empty name"));
    } else {
      return fail(QStringLiteral("strandlink: unknown option '%1' (try --help)").arg(a));
    }
  }
  if (headless && list) return fail(QStringLiteral("strandlink: --headless and --list-devices exclude each other"));
  if (list) c.mode = CommandLine::Mode::ListDevices;
  else if (headless) c.mode = CommandLine::Mode::Headless;
  return c;
}

}  // namespace strandlink::app
