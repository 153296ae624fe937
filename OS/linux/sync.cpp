#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <ctime>
#include <new>

#include "OS/host/sync.h"

namespace Korvane::host {

static_assert(sizeof(std::atomic<unsigned>) == sizeof(unsigned) && std::atomic<unsigned>::is_always_lock_free,
              "a futex word must be a plain 32-bit word");

namespace {

long Futex(std::atomic<unsigned>& word, int op, unsigned value, timespec const* limit, unsigned mask) {
  return syscall(SYS_futex, reinterpret_cast<unsigned*>(&word), op | FUTEX_PRIVATE_FLAG, value, limit, nullptr, mask);
}

// A recursive lock on a futex word: 0 free, 1 held, 2 held and a thread may
// sleep on it, so that leaving wakes one only then. A thread that finds it
// held spins briefly first: the holders here keep it for a few instructions.
// Every hand-over goes through an acquire or release on the word, which is
// what the thread sanitizer needs to see.
struct Lock {
  std::atomic<unsigned> word{0};
  std::atomic<std::uintptr_t> owner{0};  // the holder's Self(), or 0
  unsigned depth = 0;                    // the holder's count of entries
};

constexpr int kSpins = 100;

// The thread pointer names the calling thread as pthread_self does, read in
// one instruction instead of a call.
std::uintptr_t Self() {
#if defined(__x86_64__) || defined(__aarch64__)
  return reinterpret_cast<std::uintptr_t>(__builtin_thread_pointer());
#else
  return static_cast<std::uintptr_t>(pthread_self());
#endif
}

// Out of line, so that the uncontended paths save no registers.
[[gnu::noinline]] void EnterContended(Lock* l) {
  for (int i = 0; i < kSpins; ++i) {
    SpinPause();
    unsigned seen = l->word.load(std::memory_order_relaxed);
    if (seen == 0 && l->word.compare_exchange_weak(seen, 1, std::memory_order_acquire, std::memory_order_relaxed))
      return;
  }
  int saved = errno;
  while (l->word.exchange(2, std::memory_order_acquire) != 0) Futex(l->word, FUTEX_WAIT, 2, nullptr, 0);
  errno = saved;
}

[[gnu::noinline]] void WakeOne(Lock* l) {
  int saved = errno;
  Futex(l->word, FUTEX_WAKE, 1, nullptr, 0);
  errno = saved;
}

}  // namespace

void SpinPause() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

std::size_t LockSize() noexcept { return sizeof(Lock); }

void LockInit(void* lock) noexcept { new (lock) Lock; }

void LockDestroy(void* lock) noexcept { static_cast<Lock*>(lock)->~Lock(); }

void LockEnter(void* lock) noexcept {
  auto* l = static_cast<Lock*>(lock);
  std::uintptr_t self = Self();
  // Only this thread can have stored its own id there.
  if (l->owner.load(std::memory_order_relaxed) == self) {
    ++l->depth;
    return;
  }
  unsigned free = 0;
  if (!l->word.compare_exchange_strong(free, 1, std::memory_order_acquire, std::memory_order_relaxed))
    EnterContended(l);
  l->owner.store(self, std::memory_order_relaxed);
  l->depth = 1;
}

void LockLeave(void* lock) noexcept {
  auto* l = static_cast<Lock*>(lock);
  if (l->owner.load(std::memory_order_relaxed) != Self()) return;  // not held by this thread
  if (--l->depth != 0) return;
  l->owner.store(0, std::memory_order_relaxed);
  if (l->word.exchange(0, std::memory_order_release) == 2) WakeOne(l);
}

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
  long rc = Futex(word, FUTEX_WAIT_BITSET, expected, limit, FUTEX_BITSET_MATCH_ANY);
  bool timedOut = rc != 0 && errno == ETIMEDOUT;
  errno = saved;
  return !timedOut;
}

void WakeWord(std::atomic<unsigned>& word) noexcept {
  int saved = errno;
  Futex(word, FUTEX_WAKE, INT_MAX, nullptr, 0);
  errno = saved;
}

}  // namespace Korvane::host
