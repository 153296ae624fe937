#include <cerrno>
#include <ctime>

#include "OS/host/thread.h"

namespace Korvane::host {

void SleepMs(unsigned int ms) noexcept {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
  }
}

}  // namespace Korvane::host
