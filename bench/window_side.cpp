// One side of the bridge with its real main window, for the benchmark's window
// figures: the window a user sees (on whatever display Qt is given: Xvfb in
// bench/run.sh, or the offscreen platform), the session started from a settings
// file, and with --stats "Update Statistic" ticked as a user would tick it. The
// window-less program has no such box, so the statistics display can only be
// measured here.
//
//   strandlink_bench_window --settings FILE --name NAME [--stats]
//
// Prints "running" once the session runs; on SIGINT or SIGTERM stops it and prints
// the two counters, so that a loss can be placed on the sending or receiving side.
//
// With --receive-cost N it instead sends itself N datagrams, a hundred at a time,
// lets the event loop take them (with whatever repainting that causes), and prints
// the window thread's time per datagram.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/signal_watcher.h"
#include "headless/headless_run.h"
#include "headless/line_output.h"
#include "midi/midi_service.h"
#include "ui/main_window.h"

using namespace strandlink;

namespace {

// The window thread's time per received datagram, from notification to output,
// repaints included. -1 when datagrams went missing.
double receiveCost(ui::MainWindow& window, long count) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(window.currentSettings().localPort.toInt()));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto received = [&] { return window.link().counts().received; };
  const std::uint64_t before = received();
  QElapsedTimer t;
  t.start();
  for (long sent = 0; sent < count;) {
    // A hundred fit in a socket's default buffer with room to spare.
    for (int i = 0; i < 100 && sent < count; ++i, ++sent) {
      const std::uint8_t noteOff[3] = {0x80, static_cast<std::uint8_t>(sent & 0x7F), 0};
      ::sendto(fd, noteOff, 3, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    QElapsedTimer stall;
    stall.start();
    while (received() - before < std::uint64_t(sent)) {
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      if (stall.elapsed() > 2000) {
        ::close(fd);
        return -1;
      }
    }
  }
  // The repaints that the last datagrams asked for.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  const double us = double(t.nsecsElapsed()) / 1000.0 / double(count);
  ::close(fd);
  return us;
}

[[noreturn]] void usage(const char* why) {
  std::fprintf(stderr,
               "window side: %s\n"
               "usage: strandlink_bench_window --settings FILE --name NAME [--stats] [--receive-cost N]\n",
               why);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  QString settingsFile, name;
  bool stats = false;
  long costCount = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--stats") == 0) {
      stats = true;
    } else if (i + 1 < argc && std::strcmp(argv[i], "--receive-cost") == 0) {
      costCount = std::atol(argv[++i]);
    } else if (i + 1 < argc && std::strcmp(argv[i], "--settings") == 0) {
      settingsFile = QString::fromLocal8Bit(argv[++i]);
    } else if (i + 1 < argc && std::strcmp(argv[i], "--name") == 0) {
      name = QString::fromLocal8Bit(argv[++i]);
    } else {
      usage("unknown or incomplete option");
    }
  }
  if (settingsFile.isEmpty() || name.isEmpty()) usage("--settings and --name are needed");

  QApplication app(argc, argv);
  const auto midi = midi::makeMidiService(name.toStdString());
  // Boxes as lines on standard error: a modal box would stop the run.
  headless::LineOutput errors(STDERR_FILENO);
  headless::StreamBoxes boxes(errors);
  ui::MainWindow window(*midi, &boxes);
  window.startUp();
  window.loadSettings(settingsFile);
  // Ticked and started as a user would, through the window's own controls.
  if (stats) window.findChild<QCheckBox*>(QStringLiteral("statsBox"))->click();
  window.findChild<QPushButton*>(QStringLiteral("startButton"))->click();
  if (!window.link().running()) return 1;

  if (costCount > 0) {
    const double us = receiveCost(window, costCount);
    window.link().stop();
    if (us < 0) {
      std::printf("receive cost: datagrams went missing\n");
      return 1;
    }
    std::printf("receive cost: %.1f us per datagram on the window thread (statistics %s)\n", us, stats ? "on" : "off");
    return 0;
  }

  // exit(), not quit(): the window's close is the program's Exit, which writes the
  // default settings file.
  app::SignalWatcher watcher;
  QObject::connect(&watcher, &app::SignalWatcher::terminationRequested, [] { QCoreApplication::exit(0); });
  std::printf("running\n");
  std::fflush(stdout);
  QApplication::exec();

  window.link().stop();
  const auto counts = window.link().counts();
  std::printf("sent %llu received %llu\n", static_cast<unsigned long long>(counts.sent),
              static_cast<unsigned long long>(counts.received));
  return 0;
}
