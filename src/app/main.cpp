// Strandlink: a window by default, a window-less link with --headless, two linked
// copies in one process with --demo.
#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <utility>

#include "app/command_line.h"
#include "app/signal_watcher.h"
#include "demo/demo_run.h"
#include "headless/headless_run.h"
#include "headless/peer_listing.h"
#include "link/problem_text.h"
#include "midi/midi_service.h"
#include "settings/key_file.h"
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
// would, and the program ends once start-up is done (a signal that came earlier
// too: the end writes back what start-up read).
int runWindow(int argc, char** argv, const app::CommandLine& cl) {
  // A key that cannot be used ends the program before any window: a link the
  // user believes keyed must never run without its tag.
  settings::KeyFile key;
  if (!cl.keyFile.isEmpty()) key = settings::readKeyFile(cl.keyFile);
  if (key.error != settings::KeyFileError::None) {
    std::fprintf(stderr, "strandlink: %s\n", qPrintable(link::keyFileText(key, cl.keyFile)));
    return 2;
  }
  QApplication application(argc, argv);
  setIdentity();
  app::SignalWatcher watcher;
  const auto midi = midi::makeMidiService(cl.clientName.toStdString());
  ui::MainWindow window(*midi);
  if (const QString renamed = renamedPortsLine(*midi, cl.clientName); !renamed.isEmpty()) {
    std::fprintf(stderr, "strandlink: %s\n", qPrintable(renamed));
    window.showNotice(renamed);
  }
  bool looping = false;
  QTimer answerBoxes;
  answerBoxes.setInterval(0);
  QObject::connect(&answerBoxes, &QTimer::timeout, [] {
    if (QWidget* box = QApplication::activeModalWidget()) box->close();
  });
  QObject::connect(&watcher, &app::SignalWatcher::terminationRequested, &window, [&] {
    if (!looping) {
      answerBoxes.start();
      return;
    }
    window.close();
    QCoreApplication::quit();
  });
  QObject::connect(&watcher, &app::SignalWatcher::panicRequested, &window, &ui::MainWindow::panic);
  if (cl.ttl) window.setGroupTtl(*cl.ttl);
  window.setAdmission(cl.admission, cl.allowed);
  window.setSharedKey(std::move(key.key));
  window.startUp();
  // A file named on the command line is loaded as File > Open would, after start-up,
  // and the values given on the command line go over it.
  if (!app::terminationRequested() && !cl.settingsFile.isEmpty()) window.loadSettings(cl.settingsFile);
  if (const QString bad = window.applyCommandLine(cl.overrides); !bad.isEmpty()) {
    std::fprintf(stderr, "strandlink: %s\n", qPrintable(bad));
    window.close();
    return 2;
  }
  if (cl.thru) window.chooseThru(true);
  window.publishAs(cl.sessionName);
  if (!cl.remoteSession.isEmpty()) window.setRemoteSession(cl.remoteSession);
  window.inviteAlso(cl.moreRemotes);
  if (app::terminationRequested()) {
    window.close();
    return 0;
  }
  looping = true;
  return QApplication::exec();
}

// 0 after a clean stop (or the settings saved), 1 when the link did not start (or
// the file could not be written), 2 for a value that fits no device. A signal at
// any step ends it as a normal stop does: what start-up read is written back, and
// nothing is when it came before that.
int runHeadless(int argc, char** argv, const app::CommandLine& cl) {
  QCoreApplication application(argc, argv);
  setIdentity();
  if (app::terminationRequested()) return 0;
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
  options.moreRemotes = cl.moreRemotes;
  options.admission = cl.admission;
  options.allowed = cl.allowed;
  options.keyFile = cl.keyFile;
  options.user = cl.user;
  options.passwordFile = cl.passwordFile;
  options.secretFile = cl.secretFile;
  options.usersFile = cl.usersFile;
  if (const QString renamed = renamedPortsLine(*midi, cl.clientName); !renamed.isEmpty()) {
    std::fprintf(stderr, "strandlink: %s\n", qPrintable(renamed));
  }
  headless::HeadlessRun run(*midi, options);
  app::SignalWatcher watcher;
  // Start may be looking for the remote session in a loop of its own; before
  // exec() quit() does nothing.
  QObject::connect(&watcher, &app::SignalWatcher::terminationRequested, &application, [&run] {
    run.link().abandonStart();
    QCoreApplication::quit();
  });
  QObject::connect(&watcher, &app::SignalWatcher::panicRequested, &run, [&run] { run.panic(); });
  if (app::terminationRequested()) return 0;
  if (const QString bad = run.prepare(); !bad.isEmpty()) {
    run.printError(QStringLiteral("strandlink: ") + bad);  // after the reports it queued
    return 2;
  }
  if (cl.mode == app::CommandLine::Mode::SaveSettings) return run.saveSettings(cl.saveSettingsFile) ? 0 : 1;
  if (app::terminationRequested() || !run.start()) {
    run.finish();
    return app::terminationRequested() ? 0 : 1;
  }
  if (!app::terminationRequested()) QCoreApplication::exec();
  run.finish();
  return 0;
}

// 0 after SIGINT, SIGTERM or SIGHUP, 1 when the demo could not set itself up.
int runDemo(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  setIdentity();
  app::SignalWatcher watcher;
  QObject::connect(&watcher, &app::SignalWatcher::terminationRequested, &application, &QCoreApplication::quit);
  if (app::terminationRequested()) return 0;
  demo::DemoRun demo(stdout, stderr);
  if (!demo.start()) return app::terminationRequested() ? 0 : 1;
  if (!app::terminationRequested()) QCoreApplication::exec();
  demo.stop();
  return 0;
}

// A signal ends the wait: what was found so far is printed.
int runPeerListing(int argc, char** argv, const app::CommandLine& cl) {
  QCoreApplication application(argc, argv);
  setIdentity();
  app::SignalWatcher watcher;
  headless::PeerListing listing(cl.peerServiceType, stdout, stderr);
  QObject::connect(&watcher, &app::SignalWatcher::terminationRequested, &listing, &headless::PeerListing::stop);
  if (app::terminationRequested()) listing.stop();
  return listing.run();
}

}  // namespace

int main(int argc, char** argv) {
  app::catchSignals();
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
    case app::CommandLine::Mode::ListPeers: return runPeerListing(argc, argv, cl);
    case app::CommandLine::Mode::Headless:
    case app::CommandLine::Mode::SaveSettings: return runHeadless(argc, argv, cl);
    case app::CommandLine::Mode::Demo: return runDemo(argc, argv);
    case app::CommandLine::Mode::Window: break;
  }
  return runWindow(argc, argv, cl);
}
