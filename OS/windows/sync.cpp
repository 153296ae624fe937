// The host's own critical sections and clock on Windows.
#include <windows.h>

#include "OS/host/sync.h"

namespace Korvane::host {

std::size_t LockSize() noexcept { return sizeof(CRITICAL_SECTION); }

void LockInit(void* lock) noexcept { ::InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(lock)); }

void LockDestroy(void* lock) noexcept { ::DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(lock)); }

void LockEnter(void* lock) noexcept { ::EnterCriticalSection(static_cast<CRITICAL_SECTION*>(lock)); }

void LockLeave(void* lock) noexcept {
  // Leaving a section that the thread does not hold would break it for
  // every holder: the host keeps the owner's id, so such a leave is refused.
  auto* section = static_cast<CRITICAL_SECTION*>(lock);
  if (reinterpret_cast<ULONG_PTR>(section->OwningThread) != ::GetCurrentThreadId()) return;
  ::LeaveCriticalSection(section);
}

void SpinPause() noexcept { YieldProcessor(); }

long long MonotonicNs() noexcept {
  LARGE_INTEGER now, frequency;
  ::QueryPerformanceCounter(&now);
  ::QueryPerformanceFrequency(&frequency);
  long long f = frequency.QuadPart;
  return now.QuadPart / f * 1000000000LL + now.QuadPart % f * 1000000000LL / f;
}

}  // namespace Korvane::host
