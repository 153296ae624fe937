#include <windows.h>

#include "OS/host/fault.h"
#include "OS/windows/fault.h"
#include "OS/host/time.h"

namespace Korvane::host {

namespace {

// The host's clock counts 100-ns units since 1601-01-01 UTC.
constexpr long long kEpochDifference = 11644473600LL;
constexpr long long kUnitsPerSecond = 10000000LL;

bool Failed(char const* point) { return win::Injected(point); }

}  // namespace

bool RealTime(long long& seconds, long& nanoseconds) noexcept {
  if (Failed("time.clock")) return false;
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER v;
  v.LowPart = now.dwLowDateTime;
  v.HighPart = now.dwHighDateTime;
  auto units = static_cast<long long>(v.QuadPart);
  seconds = units / kUnitsPerSecond - kEpochDifference;
  nanoseconds = static_cast<long>((units % kUnitsPerSecond) * 100);
  return true;
}

bool LocalTime(long long utcSeconds, LocalTm& out) noexcept {
  if (Failed("time.local")) return false;
  // The host's calendar covers 1601 .. 30827.
  if (utcSeconds < -kEpochDifference || utcSeconds > 910692730085LL) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  ULARGE_INTEGER v;
  v.QuadPart = static_cast<unsigned long long>(utcSeconds + kEpochDifference) * kUnitsPerSecond;
  FILETIME utc;
  utc.dwLowDateTime = v.LowPart;
  utc.dwHighDateTime = v.HighPart;
  SYSTEMTIME universal, local;
  if (!::FileTimeToSystemTime(&utc, &universal)) return false;
  // The zone's rules for the year of the instant, as the host keeps them.
  DYNAMIC_TIME_ZONE_INFORMATION zone;
  TIME_ZONE_INFORMATION rules;
  if (::GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return false;
  if (!::GetTimeZoneInformationForYear(universal.wYear, &zone, &rules)) return false;
  if (!::SystemTimeToTzSpecificLocalTime(&rules, &universal, &local)) return false;
  FILETIME localTime;
  if (!::SystemTimeToFileTime(&local, &localTime)) return false;
  ULARGE_INTEGER l;
  l.LowPart = localTime.dwLowDateTime;
  l.HighPart = localTime.dwHighDateTime;
  out.year = local.wYear;
  out.month = local.wMonth;
  out.day = local.wDay;
  out.hour = local.wHour;
  out.minute = local.wMinute;
  out.second = local.wSecond;
  out.weekday = local.wDayOfWeek;
  out.offset = static_cast<long>((static_cast<long long>(l.QuadPart) - static_cast<long long>(v.QuadPart)) /
                                 kUnitsPerSecond);
  return true;
}

}  // namespace Korvane::host
