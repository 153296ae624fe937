#include <windows.h>

#include "OS/host/time.h"
#include "OS/host/uid.h"
#include "OS/windows/loader.h"

namespace Korvane::host {

// The host's sleeps and its clock advance on the same timer tick, so
// sleeping the milliseconds that are left paces the generator with the
// clock that it reads, whatever the tick.
void SleepUntilRealTime(long long seconds, long nanoseconds) noexcept {
  long long nowSeconds = 0;
  long nowNanoseconds = 0;
  if (!RealTime(nowSeconds, nowNanoseconds)) {
    ::Sleep(1);
    return;
  }
  long long left = (seconds - nowSeconds) * 1000000000LL + (nanoseconds - nowNanoseconds);
  if (left <= 0) return;
  long long ms = (left + 999999) / 1000000;
  ::Sleep(ms > 1000 ? 1000 : static_cast<DWORD>(ms));
}

// Under kv_Os.dll's loader lock the IP helper may not be asked.
bool UidNodeAtLoad() noexcept { return !win::InLoaderLock(); }

}  // namespace Korvane::host
