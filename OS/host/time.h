// Host clocks and the host's local time zone.
#ifndef KV_OS_HOST_TIME_H
#define KV_OS_HOST_TIME_H

namespace Korvane::host {

// The real-time (UTC) clock: seconds since 1970-01-01 00:00:00 UTC and the
// nanoseconds within the second. False when the clock cannot be read.
bool RealTime(long long& seconds, long& nanoseconds) noexcept;

// Local calendar time of one UTC instant in the host's time zone.
struct LocalTm {
  long long year;  // full year
  int month;       // 1..12
  int day;         // 1..31
  int hour;
  int minute;
  int second;
  int weekday;     // 0 = Sunday
  long offset;     // seconds east of UTC in force at that instant
};

// The zone is the one TZ names (re-read after tzset), else the system's.
// False when the host cannot convert the instant.
bool LocalTime(long long utcSeconds, LocalTm& out) noexcept;

}  // namespace Korvane::host

#endif
