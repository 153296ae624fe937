#include <cerrno>
#include <ctime>

#include "OS/host/fault.h"
#include "OS/host/time.h"

namespace Korvane::host {

bool RealTime(long long& seconds, long& nanoseconds) noexcept {
  if (int e = Fault("time.clock")) {
    errno = e;
    return false;
  }
  timespec now;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  seconds = now.tv_sec;
  nanoseconds = now.tv_nsec;
  return true;
}

bool LocalTime(long long utcSeconds, LocalTm& out) noexcept {
  if (int e = Fault("time.local")) {
    errno = e;
    return false;
  }
  time_t t = static_cast<time_t>(utcSeconds);
  tm fields;
  if (localtime_r(&t, &fields) == nullptr) return false;
  out.year = static_cast<long long>(fields.tm_year) + 1900;
  out.month = fields.tm_mon + 1;
  out.day = fields.tm_mday;
  out.hour = fields.tm_hour;
  out.minute = fields.tm_min;
  out.second = fields.tm_sec;
  out.weekday = fields.tm_wday;
  out.offset = fields.tm_gmtoff;
  return true;
}

}  // namespace Korvane::host
