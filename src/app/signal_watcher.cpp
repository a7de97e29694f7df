#include "app/signal_watcher.h"

#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace strandlink::app {

namespace {

int signalPair[2] = {-1, -1};
// What came since the loop last looked. A burst of signals sets a flag many times
// and wakes the loop once: the handler never waits, and no signal is lost behind
// a full pair. The ending one stays set: start-up reads it too.
std::atomic<bool> terminationPending{false};
std::atomic<bool> panicPending{false};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int sig) {
  const int savedErrno = errno;
  (sig == SIGUSR1 ? panicPending : terminationPending).store(true);
  // Non-blocking: a full pair already holds a wake-up the loop has yet to read.
  const char c = 1;
  [[maybe_unused]] auto n = ::write(signalPair[1], &c, 1);
  errno = savedErrno;
}

void handle(int sig, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(sig, &sa, nullptr);
}

}  // namespace

// The pair before the handlers, which write to it; SIGUSR1 last, so that whoever
// sees it ignored knows that the ending signals are caught.
void catchSignals() {
  // Without the pair the flag alone is set, and start-up still sees it.
  ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPair);
  sigset_t ending;
  sigemptyset(&ending);
  for (int sig : kTerminationSignals) {
    handle(sig, onSignal);
    sigaddset(&ending, sig);
  }
  sigprocmask(SIG_UNBLOCK, &ending, nullptr);  // no other thread yet
  std::signal(SIGPIPE, SIG_IGN);
  handle(SIGUSR1, SIG_IGN);
}

bool terminationRequested() { return terminationPending.load(); }

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
  if (signalPair[0] < 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(signalPair[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalWatcher::readSignal);
  handle(SIGUSR1, onSignal);
  // Like the ending signals: a mask we were started with must not hold it back.
  sigset_t panic;
  sigemptyset(&panic);
  sigaddset(&panic, SIGUSR1);
  pthread_sigmask(SIG_UNBLOCK, &panic, nullptr);
}

// A panic has nothing left to release once the loop has ended. The ending signals
// stay caught: the program is on its way out already.
SignalWatcher::~SignalWatcher() { handle(SIGUSR1, SIG_IGN); }

void SignalWatcher::readSignal() {
  char wakes[64];
  while (::read(signalPair[0], wakes, sizeof wakes) > 0) {
  }
  if (panicPending.exchange(false)) emit panicRequested();
  if (terminationPending.load() && !announced_) {
    announced_ = true;
    emit terminationRequested();
  }
}

}  // namespace strandlink::app
