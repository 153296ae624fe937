#include "OS/osthread.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "OS/osevent.h"
#include "support/testing.h"

using namespace Korvane;

namespace {

struct Call {
  bool starting;
  unsigned int id;
  void* arg;
  unsigned int code;
};

std::mutex g_callsLock;
std::vector<Call> g_calls;
std::atomic<unsigned int> g_idInside{0};

void Record(bool starting, unsigned int id, void* arg, unsigned int code) {
  std::lock_guard<std::mutex> guard(g_callsLock);
  g_calls.push_back({starting, id, arg, code});
}

unsigned int ReturnArg(void* arg) {
  g_idInside.store(osGetCurrentThreadId());
  {
    std::lock_guard<std::mutex> guard(g_callsLock);
    EXPECT_EQ(g_calls.size(), 1u) << "the start notice comes before the function";
  }
  return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(arg));
}

TEST(Thread, NotificationsFrameTheFunctionOnTheNewThread) {
  g_calls.clear();
  void* arg = reinterpret_cast<void*>(std::uintptr_t{4242});
  cKV_Error err;
  void* t = osCreateThread(&err, ReturnArg, arg, Record);
  ASSERT_NE(t, nullptr) << err.ToString();
  osCloseThread(t);
  EXPECT_EQ(t, nullptr);
  ASSERT_EQ(g_calls.size(), 2u);
  unsigned int id = g_idInside.load();
  EXPECT_TRUE(g_calls[0].starting);
  EXPECT_EQ(g_calls[0].id, id);
  EXPECT_EQ(g_calls[0].arg, arg);
  EXPECT_EQ(g_calls[0].code, 0u);
  EXPECT_FALSE(g_calls[1].starting);
  EXPECT_EQ(g_calls[1].id, id);
  EXPECT_EQ(g_calls[1].arg, arg);
  EXPECT_EQ(g_calls[1].code, 4242u);
  EXPECT_TRUE(err.IsNotError());
}

std::atomic<unsigned int> g_seenId{0};

TEST(Thread, IdsAreTheKernelsThreadIds) {
  unsigned int main = osGetCurrentThreadId();
  EXPECT_EQ(main, static_cast<unsigned int>(gettid()));
  EXPECT_EQ(osGetCurrentThreadId(), main);
  void* t = osCreateThread(
      nullptr,
      [](void*) -> unsigned int {
        g_seenId.store(osGetCurrentThreadId() == static_cast<unsigned int>(gettid()) ? osGetCurrentThreadId() : 0);
        return 0;
      },
      nullptr, nullptr);
  ASSERT_NE(t, nullptr);
  osCloseThread(t);
  EXPECT_NE(g_seenId.load(), main);
  EXPECT_NE(g_seenId.load(), 0u) << "not the kernel's id of the new thread";

  // A forked child runs on a new thread id and must not report its parent's.
  pid_t child = fork();
  if (child == 0) _exit(osGetCurrentThreadId() == static_cast<unsigned int>(getpid()) ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(Thread, CloseWaitsForTheEndAndAcceptsNull) {
  void* none = nullptr;
  osCloseThread(none);
  EXPECT_EQ(none, nullptr);

  std::atomic<bool> done{false};
  void* t = osCreateThread(
      nullptr,
      [](void* p) -> unsigned int {
        osSleep(50);
        static_cast<std::atomic<bool>*>(p)->store(true);
        return 0;
      },
      &done, nullptr);
  ASSERT_NE(t, nullptr);
  osCloseThread(t);
  EXPECT_TRUE(done.load());
  EXPECT_EQ(t, nullptr);

  // Closing its own handle must not hang the thread.
  struct Self {
    void* handle = nullptr;
    void* ready = nullptr;
    void* closed = nullptr;
  } self;
  ASSERT_TRUE(osCreateEvent(nullptr, false, self.ready));
  ASSERT_TRUE(osCreateEvent(nullptr, false, self.closed));
  void* h = osCreateThread(
      nullptr,
      [](void* p) -> unsigned int {
        auto* s = static_cast<Self*>(p);
        osWaitForEvents(1, &s->ready, 30000);
        osCloseThread(s->handle);
        if (s->handle == nullptr) osSetEvent(s->closed);
        return 0;
      },
      &self, nullptr);
  ASSERT_NE(h, nullptr);
  self.handle = h;
  osSetEvent(self.ready);
  EXPECT_EQ(osWaitForEvents(1, &self.closed, 30000), 0);
  osDestroyEvent(self.ready);
  osDestroyEvent(self.closed);
}

TEST(Thread, CreationFailuresAreReported) {
  auto noop = [](void*) -> unsigned int { return 0; };
  cKV_Error err;
  {
    kvtest::ScopedFault refused("thread.create", EAGAIN);
    EXPECT_EQ(osCreateThread(&err, noop, nullptr, nullptr), nullptr);
  }
  EXPECT_EQ(err.GetCode(), 4);
  EXPECT_STREQ(err.GetUnit(), ".\\osthread");
  EXPECT_STREQ(err.GetText(), "Failed to create new thread. GetLastError()=11 [Resource temporarily unavailable]");
  {
    kvtest::ScopedFault noMemory("alloc", ENOMEM);
    EXPECT_EQ(osCreateThread(&err, noop, nullptr, nullptr), nullptr);
  }
  EXPECT_EQ(err.GetCode(), 7);
  cKV_String expected;
  expected.Format("Failed to allocate memory for new thread. Requested size:%d",
                  static_cast<int>(3 * sizeof(void*)));
  EXPECT_STREQ(err.GetText(), expected);
  EXPECT_EQ(osCreateThread(&err, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(err.GetCode(), 4);
  EXPECT_STREQ(err.GetText(), "Failed to create new thread. GetLastError()=22 [Invalid argument]");
}

// Priorities change the nice value of the calling thread only; each case
// runs on a thread of its own so the test's threads keep theirs.
template <class F>
void OnThread(F f) {
  std::thread t(f);
  t.join();
}

int Nice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); }

TEST(Thread, PrioritiesMapOntoNiceValues) {
  OnThread([] {
    int before = Nice();
    osSetPriority(3);
    osSetPriority(-3);
    EXPECT_EQ(Nice(), before);
    osSetPriority(-1);
    EXPECT_EQ(Nice(), 5);
    osSetPriority(-2);
    EXPECT_EQ(Nice(), 10);
    EXPECT_EQ(osGetPriority(), -2);
    // Values set by other code map onto the nearest level.
    for (auto [nice, level] : {std::pair{19, -2}, {8, -2}, {7, -1}}) {
      ASSERT_EQ(setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice), 0);
      EXPECT_EQ(osGetPriority(), level) << "nice " << nice;
    }
  });
  OnThread([] {
    // Raising is refused without the privilege: nothing changes.
    kvtest::ScopedFault refused("thread.setpriority", EACCES);
    int before = Nice();
    osSetPriority(2);
    EXPECT_EQ(Nice(), before);
  });
  OnThread([] {
    kvtest::ScopedFault refused("thread.getpriority", EPERM);
    EXPECT_EQ(osGetPriority(), 0x7FFFFFFF);
  });
  OnThread([] {
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -1) != 0)
      GTEST_SKIP() << "raising a thread's priority needs CAP_SYS_NICE";
    for (int level : {2, 1, 0, -2, -1}) {
      osSetPriority(level);
      EXPECT_EQ(osGetPriority(), level);
    }
    for (auto [nice, level] : {std::pair{-20, 2}, {-3, 1}, {-2, 0}, {2, 0}, {3, -1}}) {
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
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGCHLD, SIGALRM, SIGPIPE})
      EXPECT_EQ(sigismember(&mask, s), 1) << s;
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) EXPECT_EQ(sigismember(&mask, s), 0) << s;
  });
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  EXPECT_EQ(sigismember(&mask, SIGTERM), 0) << "other threads keep their mask";
}

}  // namespace
