#include "app/signal_watcher.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace strandlink::app {

namespace {

int signalPair[2] = {-1, -1};

void onSignal(int sig) {
  const char c = static_cast<char>(sig);
  [[maybe_unused]] auto n = ::write(signalPair[1], &c, 1);
}

void handle(int sig, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(sig, &sa, nullptr);
}

}  // namespace

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
  if (signalPair[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(signalPair[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalWatcher::readSignal);
  for (int sig : {SIGINT, SIGTERM, SIGUSR1}) handle(sig, onSignal);
  std::signal(SIGPIPE, SIG_IGN);
}

// Back to the defaults: a signal after the loop has ended ends the program.
SignalWatcher::~SignalWatcher() {
  for (int sig : {SIGINT, SIGTERM, SIGUSR1}) handle(sig, SIG_DFL);
}

void SignalWatcher::readSignal() {
  char c = 0;
  if (::read(signalPair[0], &c, 1) != 1) return;
  if (c == SIGUSR1) {
    emit panicRequested();
  } else {
    emit terminationRequested();
  }
}

}  // namespace strandlink::app
