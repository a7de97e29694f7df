// Strandlink: a window by default, a window-less link with --headless, two linked
// copies in one process with --demo.
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

#include "app/command_line.h"
#include "app/signal_watcher.h"
#include "demo/demo_run.h"
#include "headless/headless_run.h"
#include "headless/peer_listing.h"
#include "midi/midi_service.h"
#include "ui/main_window.h"
#include "version.h"

using namespace strandlink;

namespace {

QStringList arguments(int argc, char** argv) {
  QStringList list;
  for (int i = 0; i < argc; ++i) list << QString::fromLocal8Bit(argv[i]);
  return list;
}

// JACK gives a second client of a taken name another one ("NAME-01"): the user
// would look for our ports under the name asked for.
QString renamedPortsLine(const midi::MidiService& midi, const QString& asked) {
  const QString given = QString::fromStdString(midi.clientName());
  if (given.isEmpty() || given == asked) return {};
  return QStringLiteral(
             "Our MIDI ports are named \"%2:in\" and \"%2:out\", not \"%1:in\" and \"%1:out\": "
             "the MIDI server has another client of that name")
      .arg(asked, given);
}

void setIdentity() {
  QCoreApplication::setApplicationName(QStringLiteral("Strandlink"));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));
}

// SIGINT, SIGTERM and SIGHUP end the window as its close box does: the settings are
// written and the notes the peer left sounding released. Before exec() quit()
// does nothing, and a start-up box (the first run's "Could not load last session
// parameters") runs a loop of its own: a signal then answers the boxes as OK
// would, and the program ends once start-up is done.
int runWindow(int argc, char** argv, const app::CommandLine& cl) {
  QApplication application(argc, argv);
  setIdentity();
  const auto midi = midi::makeMidiService(cl.clientName.toStdString());
  ui::MainWindow window(*midi);
  if (const QString renamed = renamedPortsLine(*midi, cl.clientName); !renamed.isEmpty()) {
    std::fprintf(stderr, "strandlink: %s\n", qPrintable(renamed));
    window.showNotice(renamed);
  }
  app::SignalWatcher watcher;
  bool looping = false, ended = false;
  QTimer answerBoxes;
  answerBoxes.setInterval(0);
  QObject::connect(&answerBoxes, &QTimer::timeout, [] {
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  QObject::connect(&watcher, &app::SignalWatcher::terminationRequested, &window, [&] {
    ended = true;
    if (!looping) {
      answerBoxes.start();
      return;
    }
    window.close();
    QCoreApplication::quit();
  });
  QObject::connect(&watcher, &app::SignalWatcher::panicRequested, &window, &ui::MainWindow::panic);
  if (cl.ttl) window.setGroupTtl(*cl.ttl);
  window.startUp();
  // A file named on the command line is loaded as File > Open would, after start-up,
  // and the values given on the command line go over it.
  if (!ended && !cl.settingsFile.isEmpty()) window.loadSettings(cl.settingsFile);
  if (const QString bad = window.applyCommandLine(cl.overrides); !bad.isEmpty()) {
    std::fprintf(stderr, "strandlink: %s\n", qPrintable(bad));
    window.close();
    return 2;
  }
  if (cl.thru) window.chooseThru(true);
  window.publishAs(cl.sessionName);
  if (!cl.remoteSession.isEmpty()) window.setRemoteSession(cl.remoteSession);
  if (ended) {
    window.close();
    return 0;
  }
  looping = true;
  return QApplication::exec();
}

// 0 after a clean stop (or the settings saved), 1 when the link did not start (or
// the file could not be written), 2 for a value that fits no device.
int runHeadless(int argc, char** argv, const app::CommandLine& cl) {
  QCoreApplication application(argc, argv);
  setIdentity();
  const auto midi = midi::makeMidiService(cl.clientName.toStdString());
  headless::HeadlessOptions options;
  options.settingsFile = cl.settingsFile;
  options.peerFilter = cl.peerFilter;
  options.overrides = cl.overrides;
  options.thru = cl.thru;
  options.ttl = cl.ttl.value_or(1);
  options.publish = true;
  options.sessionName = cl.sessionName;
  options.remoteSession = cl.remoteSession;
  if (const QString renamed = renamedPortsLine(*midi, cl.clientName); !renamed.isEmpty()) {
    std::fprintf(stderr, "strandlink: %s\n", qPrintable(renamed));
  }
  headless::HeadlessRun run(*midi, options);
  if (const QString bad = run.prepare(); !bad.isEmpty()) {
    run.printError(QStringLiteral("strandlink: ") + bad);  // after the reports it queued
    return 2;
  }
  if (cl.mode == app::CommandLine::Mode::SaveSettings) return run.saveSettings(cl.saveSettingsFile) ? 0 : 1;
  app::SignalWatcher watcher;
  bool ended = false;
  QObject::connect(&watcher, &app::SignalWatcher::terminationRequested, &application, [&ended] {
    ended = true;
    QCoreApplication::quit();
  });
  QObject::connect(&watcher, &app::SignalWatcher::panicRequested, &run, [&run] { run.panic(); });
  if (!run.start()) return 1;
  // A signal while Start looked for the remote session came before the loop: a
  // quit() then would be lost.
  if (!ended) QCoreApplication::exec();
  run.finish();
  return 0;
}

// 0 after SIGINT, SIGTERM or SIGHUP, 1 when the demo could not set itself up.
int runDemo(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  setIdentity();
  demo::DemoRun demo(stdout, stderr);
  app::SignalWatcher watcher;
  QObject::connect(&watcher, &app::SignalWatcher::terminationRequested, &application, &QCoreApplication::quit);
  if (!demo.start()) return 1;
  QCoreApplication::exec();
  demo.stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  app::ignorePanicSignal();
  const app::CommandLine cl = app::parseCommandLine(arguments(argc, argv));
  switch (cl.mode) {
    case app::CommandLine::Mode::Error: std::fprintf(stderr, "%s\n", qPrintable(cl.error)); return 2;
    case app::CommandLine::Mode::Help: std::fputs(qPrintable(app::usageText()), stdout); return 0;
    case app::CommandLine::Mode::Version: std::printf("strandlink %s\n", kVersion); return 0;
    case app::CommandLine::Mode::ListDevices: {
      QCoreApplication application(argc, argv);
      setIdentity();
      headless::printDeviceLists(*midi::makeMidiService(cl.clientName.toStdString()), stdout);
      return 0;
    }
    case app::CommandLine::Mode::ListPeers: {
      QCoreApplication application(argc, argv);
      setIdentity();
      return headless::listPeers(cl.peerServiceType, stdout, stderr);
    }
    case app::CommandLine::Mode::Headless:
    case app::CommandLine::Mode::SaveSettings: return runHeadless(argc, argv, cl);
    case app::CommandLine::Mode::Demo: return runDemo(argc, argv);
    case app::CommandLine::Mode::Window: break;
  }
  return runWindow(argc, argv, cl);
}
