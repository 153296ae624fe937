#include <windows.h>

#include <cstring>

#include "unit/ostime_zone.h"

namespace kvtest {

namespace {

// The rules that tell the zones of the tests apart: standard offset, and
// the months in which daylight time starts and ends (0: none).
struct ZoneRules {
  char const* name;
  long bias;
  int daylightMonth;
  int standardMonth;
};
constexpr ZoneRules kZones[] = {
    {"UTC", 0, 0, 0},
    {"America/New_York", 300, 3, 11},
    {"Europe/Berlin", -60, 3, 10},
    {"Asia/Tokyo", -540, 0, 0},
};

}  // namespace

ScopedZone::ScopedZone(char const* zone) {
  DYNAMIC_TIME_ZONE_INFORMATION now;
  GetDynamicTimeZoneInformation(&now);
  for (ZoneRules const& z : kZones) {
    if (std::strcmp(z.name, zone) != 0) continue;
    _here = now.Bias == z.bias && now.DaylightDate.wMonth == z.daylightMonth &&
            now.StandardDate.wMonth == z.standardMonth;
    if (!_here) {
      char key[256];
      WideCharToMultiByte(CP_UTF8, 0, now.TimeZoneKeyName, -1, key, sizeof key, nullptr, nullptr);
      _why = std::string("needs the time zone ") + zone + ", but this process runs in \"" + key +
             "\": a Windows process keeps the zone it started with (the suite runs once per zone, with TZ set)";
    }
    return;
  }
  _here = false;
  _why = std::string("no rules known for the time zone ") + zone;
}

ScopedZone::~ScopedZone() = default;

bool HostLocalTime(long long t, std::tm& fields) {
  // The host's own calendar: UTC to local time with the zone's rules for
  // that year.
  long long units = (t + 11644473600LL) * 10000000LL;
  FILETIME utc{static_cast<DWORD>(units & 0xFFFFFFFF), static_cast<DWORD>(units >> 32)};
  SYSTEMTIME u, l;
  DYNAMIC_TIME_ZONE_INFORMATION zone;
  TIME_ZONE_INFORMATION rules;
  if (!FileTimeToSystemTime(&utc, &u) || GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID ||
      !GetTimeZoneInformationForYear(u.wYear, &zone, &rules) || !SystemTimeToTzSpecificLocalTime(&rules, &u, &l))
    return false;
  fields = std::tm{};
  fields.tm_year = l.wYear - 1900;
  fields.tm_mon = l.wMonth - 1;
  fields.tm_mday = l.wDay;
  fields.tm_hour = l.wHour;
  fields.tm_min = l.wMinute;
  fields.tm_sec = l.wSecond;
  fields.tm_wday = l.wDayOfWeek;
  // Day of the year, for the formats that print it.
  static constexpr int kBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  bool leap = (l.wYear % 4 == 0 && l.wYear % 100 != 0) || l.wYear % 400 == 0;
  fields.tm_yday = kBefore[l.wMonth - 1] + l.wDay - 1 + (leap && l.wMonth > 2 ? 1 : 0);
  return true;
}

}  // namespace kvtest
