#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

#include "OS/host/sync.h"

namespace Korvane::host {

static_assert(sizeof(std::atomic<unsigned>) == sizeof(unsigned) && std::atomic<unsigned>::is_always_lock_free,
              "a futex word must be a plain 32-bit word");

std::size_t LockSize() noexcept { return sizeof(pthread_mutex_t); }

void LockInit(void* lock) noexcept {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(static_cast<pthread_mutex_t*>(lock), &attr);
  pthread_mutexattr_destroy(&attr);
}

void LockDestroy(void* lock) noexcept { pthread_mutex_destroy(static_cast<pthread_mutex_t*>(lock)); }

void LockEnter(void* lock) noexcept { pthread_mutex_lock(static_cast<pthread_mutex_t*>(lock)); }

void LockLeave(void* lock) noexcept { pthread_mutex_unlock(static_cast<pthread_mutex_t*>(lock)); }

long long MonotonicNs() noexcept {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

bool WaitWord(std::atomic<unsigned>& word, unsigned expected, long long deadlineNs) noexcept {
  // The bitset form takes an absolute time on the monotonic clock, so a
  // wait resumed after a spurious wake-up keeps its original deadline.
  timespec at;
  timespec* limit = nullptr;
  if (deadlineNs >= 0) {
    at.tv_sec = static_cast<time_t>(deadlineNs / 1000000000LL);
    at.tv_nsec = static_cast<long>(deadlineNs % 1000000000LL);
    limit = &at;
  }
  int saved = errno;
  long rc = syscall(SYS_futex, reinterpret_cast<unsigned*>(&word), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, expected,
                    limit, nullptr, FUTEX_BITSET_MATCH_ANY);
  bool timedOut = rc != 0 && errno == ETIMEDOUT;
  errno = saved;
  return !timedOut;
}

void WakeWord(std::atomic<unsigned>& word) noexcept {
  int saved = errno;
  syscall(SYS_futex, reinterpret_cast<unsigned*>(&word), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, INT_MAX, nullptr, nullptr,
          0);
  errno = saved;
}

}  // namespace Korvane::host
