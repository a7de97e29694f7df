// The process's asynchronous signals (the ending ones and SIGUSR1's panic) go to
// the main thread's loop. A thread started while a QuietThreads lives takes none
// of them: the kernel hands a process's signal to any thread that does not block
// it, and a burst of panics would otherwise interrupt the JACK process thread or
// a protocol's sender in the middle of its work. A signal that comes while the
// starting thread blocks them waits, and is taken as soon as it unblocks them.
#pragma once

#include <pthread.h>
#include <signal.h>

namespace strandlink {

class QuietThreads {
 public:
  QuietThreads() {
    sigset_t quiet;
    sigemptyset(&quiet);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&quiet, sig);
    pthread_sigmask(SIG_BLOCK, &quiet, &before_);
  }
  ~QuietThreads() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  QuietThreads(const QuietThreads&) = delete;
  QuietThreads& operator=(const QuietThreads&) = delete;

 private:
  sigset_t before_{};
};

}  // namespace strandlink
