// Threads on Linux: thread ids across fork, the host's error texts,
// priorities as nice values and signal masks.
#include "OS/osthread.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <thread>

#include "support/testing.h"

using namespace Korvane;

namespace {

TEST(Thread, IdsAreTheKernelsThreadIds) {
  // A forked child runs on a new thread id and must not report its parent's.
  pid_t child = fork();
  if (child == 0) _exit(osGetCurrentThreadId() == static_cast<unsigned int>(getpid()) ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(Thread, CreationFailuresAreReported) {
  std::string noMemory = "Failed to allocate memory for new thread. Requested size:" + std::to_string(3 * sizeof(void*));
  unsigned int (*noop)(void*) = [](void*) -> unsigned int { return 0; };
  struct Case { char const* fault; int error; unsigned int (*function)(void*); int code; char const* text; } const cases[] = {
      {"thread.create", EAGAIN, noop, 4, "Failed to create new thread. GetLastError()=11 [Resource temporarily unavailable]"},
      {"alloc", ENOMEM, noop, 7, noMemory.c_str()},
      {nullptr, 0, nullptr, 4, "Failed to create new thread. GetLastError()=22 [Invalid argument]"},
  };
  for (auto const& c : cases) {
    std::optional<kvtest::ScopedFault> fault;
    if (c.fault) fault.emplace(c.fault, c.error);
    cKV_Error err;
    EXPECT_TRUE(osCreateThread(&err, c.function, nullptr, nullptr) == nullptr && err.GetCode() == c.code);
    EXPECT_STREQ(err.GetUnit(), ".\\osthread");
    EXPECT_STREQ(err.GetText(), c.text);
  }
}

// Priorities change the nice value of the calling thread only; each case
// runs on a thread of its own so the test's threads keep theirs.
template <class F>
void OnThread(F f) { std::thread(f).join(); }

int Nice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); }

TEST(Thread, PrioritiesMapOntoNiceValues) {
  OnThread([] {
    int before = Nice();
    osSetPriority(3);  // out of range: ignored
    EXPECT_EQ(Nice(), before);
    for (auto [level, nice] : {std::pair{-1, 5}, {-2, 10}}) {
      osSetPriority(level);
      EXPECT_EQ(Nice(), nice);
      EXPECT_EQ(osGetPriority(), level);
    }
    {
      // Raising is refused without the privilege: nothing changes.
      kvtest::ScopedFault refused("thread.setpriority", EACCES);
      osSetPriority(2);
      EXPECT_EQ(Nice(), 10);
    }
    kvtest::ScopedFault unknown("thread.getpriority", EPERM);  // fails once
    EXPECT_EQ(osGetPriority(), 0x7FFFFFFF);
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -1) != 0)
      GTEST_SKIP() << "raising a thread's priority needs CAP_SYS_NICE";
    for (int level : {2, 1, 0}) {
      osSetPriority(level);
      EXPECT_EQ(osGetPriority(), level);
    }
    // Values set by other code map onto the nearest level.
    for (auto [nice, level] : {std::pair{8, -2}, {7, -1}, {3, -1}, {2, 0}, {-2, 0}, {-3, 1}}) {
      ASSERT_EQ(setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice), 0);
      EXPECT_EQ(osGetPriority(), level) << "nice " << nice;
    }
  });
}

TEST(Thread, DisableSignalsBlocksOnlyAsynchronousOnes) {
  OnThread([] {
    osThreadDisableSignals();
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    for (int s : {SIGINT, SIGTERM, SIGUSR1, SIGCHLD, SIGPIPE}) EXPECT_EQ(sigismember(&mask, s), 1) << s;
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) EXPECT_EQ(sigismember(&mask, s), 0) << s;
  });
}

}  // namespace
