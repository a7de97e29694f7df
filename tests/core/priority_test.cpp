// "High" and "Realtime" on every thread of this process, read back from the kernel.
#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "link/priority.h"
#include "link/settings_files.h"
#include "support/real_part.h"

using namespace strandlink;

namespace {

// Taken before any test raises anything.
const int kNiceAtLoad = getpriority(PRIO_PROCESS, 0);

std::vector<pid_t> threads() {
  std::vector<pid_t> ids;
  DIR* dir = opendir("/proc/self/task");
  while (const dirent* e = dir ? readdir(dir) : nullptr) {
    if (e->d_name[0] != '.') ids.push_back(static_cast<pid_t>(std::atoi(e->d_name)));
  }
  if (dir) closedir(dir);
  return ids;
}

int policy(pid_t tid) { return sched_getscheduler(tid) & ~SCHED_RESET_ON_FORK; }
int niceOf(pid_t tid) { return getpriority(PRIO_PROCESS, static_cast<id_t>(tid)); }

// Realtime needs CAP_SYS_NICE or an RLIMIT_RTPRIO; the thread given is put back.
bool mayRaise(pid_t tid) {
  sched_param rr{}, normal{};
  rr.sched_priority = 1;
  const bool ok = setpriority(PRIO_PROCESS, id_t(tid), -1) == 0 && sched_setscheduler(tid, SCHED_RR, &rr) == 0;
  sched_setscheduler(tid, SCHED_OTHER, &normal);
  setpriority(PRIO_PROCESS, id_t(tid), kNiceAtLoad);
  return ok;
}

class PriorityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A thread that exists before the call, as the MIDI service's would.
    extra_ = std::thread([this] {
      extraTid_ = gettid();
      while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    while (extraTid_ == 0) std::this_thread::yield();
    REQUIRE_REAL_PART(mayRaise(extraTid_), "the rights to raise thread priorities");
  }
  void TearDown() override {
    for (pid_t tid : threads()) mayRaise(tid);
    stop_ = true;
    extra_.join();
  }

  std::thread extra_;
  std::atomic<pid_t> extraTid_{0};
  std::atomic<bool> stop_{false};
};

}  // namespace

TEST_F(PriorityTest, EachClassReachesEveryThreadAndThreadsStartedLater) {
  EXPECT_TRUE(link::setProcessPriority(link::Priority::Realtime));
  for (pid_t tid : threads()) EXPECT_EQ(policy(tid), SCHED_RR) << "thread " << tid;
  EXPECT_TRUE(link::setProcessPriority(link::Priority::High));
  const auto ids = threads();
  EXPECT_GE(ids.size(), 2u);
  for (pid_t tid : ids) {
    EXPECT_EQ(policy(tid), SCHED_OTHER) << "thread " << tid;
    EXPECT_EQ(niceOf(tid), -10) << "thread " << tid;
  }
  int laterNice = 0, laterPolicy = -1;  // a thread started now inherits the class
  std::thread([&] { laterNice = niceOf(0), laterPolicy = policy(0); }).join();
  EXPECT_EQ(laterNice, -10);
  EXPECT_EQ(laterPolicy, SCHED_OTHER);
}

TEST_F(PriorityTest, LeavesOthersRealtimeThreadsAndChildProcessesAlone) {
  // A library's own FIFO thread (JACK's process thread) keeps the priority it chose.
  sched_param fifo{};
  fifo.sched_priority = 20;
  ASSERT_EQ(sched_setscheduler(extraTid_, SCHED_FIFO, &fifo), 0);
  link::setProcessPriority(link::Priority::Realtime);
  EXPECT_EQ(policy(extraTid_), SCHED_FIFO);
  EXPECT_EQ(policy(gettid()), SCHED_RR);

  // A program started from here runs at its normal priority.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(policy(0) == SCHED_OTHER && niceOf(0) == kNiceAtLoad ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  link::setProcessPriority(link::Priority::High);
  EXPECT_EQ(policy(extraTid_), SCHED_FIFO);
  EXPECT_EQ(policy(gettid()), SCHED_OTHER);
}

// A settings file's priority record: Realtime whenever it selects it, High only when
// it changes the choice.
TEST_F(PriorityTest, ASettingsChangeAppliesTheClassItSelects) {
  link::applyPriorityChange(true, false);
  EXPECT_EQ(policy(gettid()), SCHED_RR);
  link::applyPriorityChange(false, true);
  EXPECT_EQ(policy(gettid()), SCHED_OTHER);
  sched_param rr{};
  rr.sched_priority = 1;
  ASSERT_EQ(sched_setscheduler(0, SCHED_RR, &rr), 0);
  link::applyPriorityChange(true, true);  // no change of choice: left alone
  EXPECT_EQ(policy(gettid()), SCHED_RR);
  link::setProcessPriority(link::Priority::High);
  link::applyPriorityChange(false, false);  // Realtime already chosen: requested again
  EXPECT_EQ(policy(gettid()), SCHED_RR);
}
