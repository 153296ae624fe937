// Host locks, waiting on a word, and the monotonic clock.
#ifndef KV_OS_HOST_SYNC_H
#define KV_OS_HOST_SYNC_H

#include <atomic>
#include <cstddef>

namespace Korvane::host {

// The host's recursive lock, kept in LockSize() bytes that the caller
// allocates (malloc alignment suffices). Initialising it cannot fail; a
// thread that does not hold it cannot leave it.
std::size_t LockSize() noexcept;
void LockInit(void* lock) noexcept;
void LockDestroy(void* lock) noexcept;
void LockEnter(void* lock) noexcept;
void LockLeave(void* lock) noexcept;

// Tells the processor that the thread spins on a word another one changes.
void SpinPause() noexcept;

// Nanoseconds on a clock that setting the wall clock does not move.
long long MonotonicNs() noexcept;

// Blocks while `word` holds `expected`, until woken or until the monotonic
// time `deadlineNs` has passed (negative: no limit). May return early for no
// reason; returns false only when the deadline has passed.
bool WaitWord(std::atomic<unsigned>& word, unsigned expected, long long deadlineNs) noexcept;
// Wakes every thread blocked in WaitWord on `word`.
void WakeWord(std::atomic<unsigned>& word) noexcept;

}  // namespace Korvane::host

#endif
