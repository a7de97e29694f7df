#include "link/priority.h"

#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace strandlink::link {

namespace {

constexpr int kHighNice = -10;
// Above every normal thread but below the realtime threads of the audio servers
// (JACK runs at 10 by default), so a "Realtime" bridge never starves the server
// it plays through.
constexpr int kRealtimeRrPriority = 5;

// The nice value before the first raise, for children (see resetInChild).
int niceBeforeRaise = 0;

// Every thread of the process. Linux keeps nice and the scheduling policy per
// thread, and a thread inherits both from the thread that creates it.
std::vector<pid_t> threadIds() {
  std::vector<pid_t> ids;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(dir)) {
      char* end = nullptr;
      const long id = std::strtol(entry->d_name, &end, 10);
      if (end != entry->d_name && *end == '\0' && id > 0) ids.push_back(static_cast<pid_t>(id));
    }
    ::closedir(dir);
  }
  // Without /proc at least this thread, so the threads it creates inherit.
  const pid_t self = ::gettid();
  if (std::find(ids.begin(), ids.end(), self) == ids.end()) ids.push_back(self);
  return ids;
}

int basePolicy(pid_t tid) {
  const int policy = ::sched_getscheduler(tid);
  return policy < 0 ? policy : (policy & ~SCHED_RESET_ON_FORK);
}

// A thread that ended since the listing is no refusal.
bool refused(int rc) { return rc != 0 && errno != ESRCH; }

// A program started from this one (the help document's viewer, a browser) should
// not run at our priority. Only fork() runs this; other ways of starting a process
// (posix_spawn, a raw clone) are out of reach, so it is a best effort.
void resetInChild() {
  if (basePolicy(0) == SCHED_RR) {
    sched_param normal{};
    ::sched_setscheduler(0, SCHED_OTHER, &normal);
  }
  ::setpriority(PRIO_PROCESS, 0, niceBeforeRaise);
}

void prepareChildReset() {
  static std::once_flag once;
  std::call_once(once, [] {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, 0);
    niceBeforeRaise = errno == 0 ? nice : 0;
    ::pthread_atfork(nullptr, nullptr, resetInChild);
  });
}

bool applyHigh() {
  bool ok = true;
  for (const pid_t tid : threadIds()) {
    if (basePolicy(tid) == SCHED_RR) {
      sched_param normal{};
      if (refused(::sched_setscheduler(tid, SCHED_OTHER, &normal))) ok = false;
    }
    if (refused(::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), kHighNice))) ok = false;
  }
  return ok;
}

bool applyRealtime() {
  bool ok = true;
  sched_param rr{};
  rr.sched_priority =
      std::clamp(kRealtimeRrPriority, ::sched_get_priority_min(SCHED_RR), ::sched_get_priority_max(SCHED_RR));
  for (const pid_t tid : threadIds()) {
    // A FIFO (or deadline) thread was made realtime by the library that owns it
    // (the JACK client's process thread) at the priority it needs; leave it.
    const int policy = basePolicy(tid);
    if (policy != SCHED_OTHER && policy != SCHED_BATCH && policy != SCHED_IDLE && policy != SCHED_RR) continue;
    if (refused(::sched_setscheduler(tid, SCHED_RR, &rr))) ok = false;
  }
  return ok;
}

}  // namespace

bool setProcessPriority(Priority priority) {
  prepareChildReset();
  return priority == Priority::High ? applyHigh() : applyRealtime();
}

}  // namespace strandlink::link
