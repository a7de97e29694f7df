// Strandlink: a window by default, a window-less link with --headless.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <memory>

#include "midi/midi_service.h"
#include "session/command_line.h"
#include "session/headless.h"
#include "settings/settings_file.h"
#include "ui/form1.h"

using namespace strandlink;

namespace {

// A socket handle of 0 means "no socket" to the bridge, so descriptors 0 to 2
// must be taken even when we were started without them.
void keepStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1) ::open("/dev/null", O_RDWR);
  }
}

QStringList arguments(int argc, char** argv) {
  QStringList list;
  for (int i = 0; i < argc; ++i) list << QString::fromLocal8Bit(argv[i]);
  return list;
}

void setIdentity() {
  QCoreApplication::setApplicationName(QStringLiteral("Strandlink"));
  QCoreApplication::setApplicationVersion(QStringLiteral(STRANDLINK_VERSION));
}

int runWindow(int argc, char** argv, const CommandLine& cl) {
  QApplication app(argc, argv);
  setIdentity();
  const auto midi = midi::makeMidiService(cl.clientName.toStdString());
  ui::Form1 form(*midi);
  form.Form_Load();
  // A file named on the command line is loaded as File > Open would, after start-up.
  if (!cl.settingsFile.isEmpty()) settings::LoadSettings(form.session(), cl.settingsFile);
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  keepStandardDescriptors();
  const CommandLine cl = parseCommandLine(arguments(argc, argv));
  switch (cl.mode) {
    case CommandLine::Mode::Error:
      std::fprintf(stderr, "%s\n", qPrintable(cl.error));
      return 2;
    case CommandLine::Mode::Help:
      std::fputs(qPrintable(usageText()), stdout);
      return 0;
    case CommandLine::Mode::Version:
      std::printf("strandlink %s\n", STRANDLINK_VERSION);
      return 0;
    case CommandLine::Mode::ListDevices: {
      QCoreApplication app(argc, argv);
      setIdentity();
      printDeviceLists(*midi::makeMidiService(cl.clientName.toStdString()), stdout);
      return 0;
    }
    case CommandLine::Mode::Headless: {
      QCoreApplication app(argc, argv);
      setIdentity();
      const auto midi = midi::makeMidiService(cl.clientName.toStdString());
      return runHeadless(*midi, cl.settingsFile, cl.peerFilter);
    }
    case CommandLine::Mode::Window:
      break;
  }
  return runWindow(argc, argv, cl);
}
