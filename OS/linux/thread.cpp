#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "OS/host/fault.h"
#include "OS/host/thread.h"

namespace Korvane::host {

static_assert(sizeof(pthread_t) <= sizeof(void*), "a thread handle carries the pthread_t");

void SleepMs(unsigned int ms) noexcept {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
  }
}

int ThreadCreate(void* (*entry)(void*), void* arg, void*& handle) noexcept {
  handle = nullptr;
  int rc = Fault("thread.create");
  pthread_t thread{};
  if (rc == 0) rc = pthread_create(&thread, nullptr, entry, arg);
  if (rc != 0) {
    errno = rc;
    return rc;
  }
  handle = reinterpret_cast<void*>(static_cast<std::uintptr_t>(thread));
  return 0;
}

void ThreadJoin(void* handle) noexcept {
  auto thread = static_cast<pthread_t>(reinterpret_cast<std::uintptr_t>(handle));
  if (pthread_equal(thread, pthread_self())) {
    pthread_detach(thread);
    return;
  }
  pthread_join(thread, nullptr);
}

namespace {

// gettid() is a system call; the id is kept per thread. A forked child runs
// on a new thread id, so the forking thread forgets its copy there.
thread_local unsigned int t_threadId = 0;

void ForgetThreadIdInChild() { t_threadId = 0; }

}  // namespace

unsigned int CurrentThreadId() noexcept {
  if (t_threadId == 0) {
    static int const registered = pthread_atfork(nullptr, nullptr, ForgetThreadIdInChild);
    (void)registered;
    t_threadId = static_cast<unsigned int>(gettid());
  }
  return t_threadId;
}

namespace {

// Priority levels lie five nice steps apart.
constexpr int kNiceStep = 5;

// On Linux the nice value belongs to each thread: PRIO_PROCESS with a thread
// id addresses that thread alone.
bool GetNice(int& nice) {
  if (int e = Fault("thread.getpriority")) {
    errno = e;
    return false;
  }
  errno = 0;
  int value = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
  if (value == -1 && errno != 0) return false;
  nice = value;
  return true;
}

bool SetNice(int nice) {
  if (int e = Fault("thread.setpriority")) {
    errno = e;
    return false;
  }
  return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice) == 0;
}

}  // namespace

bool GetPriority(int& level) noexcept {
  int nice = 0;
  if (!GetNice(nice)) return false;
  // Nearest level; nice values lie 5 apart, so there are no ties.
  level = nice >= 0 ? -((nice + kNiceStep / 2) / kNiceStep) : (-nice + kNiceStep / 2) / kNiceStep;
  if (level < -2) level = -2;
  if (level > 2) level = 2;
  return true;
}

bool SetPriority(int level) noexcept { return SetNice(-level * kNiceStep); }

void BlockAsyncSignals() noexcept {
  sigset_t set;
  sigfillset(&set);
  for (int sync : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT}) sigdelset(&set, sync);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace Korvane::host
