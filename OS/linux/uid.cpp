#include <cerrno>
#include <ctime>

#include "OS/host/uid.h"

namespace Korvane::host {

void SleepUntilRealTime(long long seconds, long nanoseconds) noexcept {
  timespec until{static_cast<time_t>(seconds + nanoseconds / 1000000000L), nanoseconds % 1000000000L};
  while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

// The loader's constructors may ask the kernel anything.
bool UidNodeAtLoad() noexcept { return true; }

}  // namespace Korvane::host
