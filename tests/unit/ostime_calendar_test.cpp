// Local calendar time and the text forms of a time, under fixed zones.
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "OS/internal/timetext.h"
#include "OS/ostime.h"
#include "support/testing.h"
#include "unit/ostime_zone.h"

using namespace Korvane;
using internal::LocalShortTimeText;
using internal::LocalTimeText;
using kvtest::ScopedFault;
using kvtest::ScopedZone;

namespace {

constexpr unsigned long long kSec = 1000000000ULL;

cKV_DateTime Fields(int y, int mo, int d, int h, int mi, int s, unsigned ns = 0) {
  cKV_DateTime f;
  f.year = static_cast<unsigned short>(y), f.month = static_cast<unsigned char>(mo);
  f.day = static_cast<unsigned char>(d), f.hour = static_cast<unsigned char>(h);
  f.minute = static_cast<unsigned char>(mi), f.second = static_cast<unsigned char>(s);
  f.nanoseconds = ns;
  return f;
}

std::string Text(cKV_DateTime const& f) { return static_cast<char const*>(f.ToString()); }

cKV_DateTime FromSys(unsigned long long value) {
  cKV_DateTime f;
  f = cKV_SysTime(value);
  return f;
}

// Local fields to UTC seconds, or -1 when rejected.
long long ToUtcSeconds(cKV_DateTime const& f) {
  cKV_SysTime t(12345ULL);
  if (!f.ToSysTime(t)) return -1;
  return static_cast<long long>(t.value / kSec);
}

// What the C library makes of `t` in the current zone (the "C" locale's names).
std::string HostText(long long t, char const* format) {
  tm local;
  char text[64] = "";
  if (kvtest::HostLocalTime(t, local)) std::strftime(text, sizeof text, format, &local);
  return text;
}
constexpr char kAsctime[] = "%a %b %d %H:%M:%S %Y\n";

// 1970, a winter day in 2009, a leap day, the first second past 32-bit
// time_t, a day in 2100 (no leap year), and a summer day, as UTC shows them.
// Held as 64 bits: the 32-bit Windows C library's time_t stops in 2038.
std::pair<long long, char const*> const kInstants[] = {
    {0, "1970/01/01 00:00:00"},          {1236434709, "2009/03/07 14:05:09"}, {1330516800, "2012/02/29 12:00:00"},
    {2147483648, "2038/01/19 03:14:08"}, {4107542400, "2100/03/01 00:00:00"}, {1625140800, "2021/07/01 12:00:00"}};

// In other zones the local fields and texts are those the C library gives.
TEST(DateTime, LocalFieldsAndBackInSeveralZones) {
  for (char const* name : {"UTC", "America/New_York", "Europe/Berlin"}) {
    ScopedZone zone(name);
    if (!zone.HereOrSay()) continue;
    for (auto [secs, utc] : kInstants) {
      std::string local = HostText(secs, "%Y/%m/%d %H:%M:%S") + ".123";
      SCOPED_TRACE(std::string(name) + " " + local);
      EXPECT_TRUE(std::strcmp(name, "UTC") != 0 || local == std::string(utc) + ".123");
      unsigned long long value = static_cast<unsigned long long>(secs) * kSec + 123456789;
      cKV_DateTime f = FromSys(value);
      EXPECT_EQ(Text(f), local);
      EXPECT_EQ(f.nanoseconds, 123456789u);  // full precision, not milliseconds
      EXPECT_STREQ(cKV_SysTime(value).ToString(), local.c_str());
      cKV_SysTime back(0ULL);
      ASSERT_TRUE(f.ToSysTime(back));
      EXPECT_EQ(back.value, value);
      EXPECT_EQ(std::string(LocalTimeText(secs)), HostText(secs, kAsctime));
      EXPECT_EQ(std::string(LocalShortTimeText(secs)), HostText(secs, "%H:%M:%S"));
    }
  }
}

TEST(DateTime, RejectsFieldsThatAreNoDateAndTime) {
  KV_ZONE(zone, "Europe/Berlin");
  struct {
    cKV_DateTime fields;
    bool real;
  } const cases[] = {
      {Fields(2009, 13, 1, 0, 0, 0), false},
      {Fields(2009, 4, 31, 0, 0, 0), false},
      {Fields(2009, 2, 29, 0, 0, 0), false},
      {Fields(2100, 2, 29, 0, 0, 0), false},
      {Fields(2009, 1, 1, 24, 0, 0), false},
      {Fields(2009, 1, 1, 0, 0, 60), false},
      {Fields(1600, 12, 31, 0, 0, 0), false},
      // Their neighbours are real dates.
      {Fields(2009, 12, 31, 23, 59, 59), true},
      {Fields(2000, 2, 29, 12, 0, 0), true},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(Text(c.fields));
    cKV_SysTime out(777ULL);
    EXPECT_EQ(c.fields.ToSysTime(out), c.real);
    EXPECT_TRUE(c.real || out.value == 777ULL) << out.value;  // untouched when rejected
  }
  // Times before 1970 wrap below zero.
  KV_ZONE(utc, "UTC");
  cKV_SysTime out(0ULL);
  ASSERT_TRUE(Fields(1601, 1, 1, 0, 0, 0).ToSysTime(out));
  EXPECT_EQ(out.value, static_cast<unsigned long long>(-11644473600LL) * kSec);  // wraps in 64 bits
}

// Where a change skips local time, the skipped time is read with the offset
// in force before it.
TEST(DateTime, DaylightSavingChanges) {
  struct {
    char const* zone;
    cKV_DateTime local;
    long long utc;
  } const cases[] = {
      // Spring forward, 2009-03-08 02:00 EST -> 03:00 EDT. (Repeated hours
      // are covered by the round trips.)
      {"America/New_York", Fields(2009, 3, 8, 1, 59, 59), 1236495599},
      {"America/New_York", Fields(2009, 3, 8, 2, 30, 0), 1236497400},
      // Samoa skipped a whole day (2011-12-30) moving from -10 h to +14 h.
      {"Pacific/Apia", Fields(2011, 12, 30, 12, 0, 0), 1325282400},
      {"Pacific/Apia", Fields(2011, 12, 31, 12, 0, 0), 1325282400},
  };
  for (auto const& c : cases) {
    ScopedZone zone(c.zone);
    if (!zone.HereOrSay()) continue;
    EXPECT_EQ(ToUtcSeconds(c.local), c.utc) << c.zone << " " << Text(c.local);
  }
}

// Every quarter hour through a year: back to the same instant, except in
// the second pass through a repeated hour, which comes back one change
// earlier and shows the same fields.
TEST(DateTime, RoundTripsThroughAYearOfChanges) {
  for (char const* name : {"America/New_York", "Australia/Lord_Howe"}) {
    ScopedZone zone(name);
    if (!zone.HereOrSay()) continue;
    int repeated = 0;
    for (long long s = 1230768000; s < 1262304000; s += 900) {
      unsigned long long value = static_cast<unsigned long long>(s) * kSec + 999999999;
      cKV_DateTime f = FromSys(value);
      cKV_SysTime back(0ULL);
      ASSERT_TRUE(f.ToSysTime(back)) << name << " " << s;
      if (back.value == value) continue;
      ++repeated;
      ASSERT_LT(back.value, value) << name << " " << s;
      EXPECT_LE(value - back.value, 3600 * kSec) << name << " " << s;
      EXPECT_EQ(Text(FromSys(back.value)), Text(f)) << name << " " << s;
    }
    // One repeated hour a year (half an hour on Lord Howe, with half-hour changes).
    EXPECT_EQ(repeated, std::strcmp(name, "Australia/Lord_Howe") == 0 ? 2 : 4) << name;
  }
}

TEST(SysTimeText, DurationsAndTimesOfDay) {
  EXPECT_STREQ(cKV_SysTime(0ULL).FormatTime(), "0:00:00.000000000");
  EXPECT_STREQ(cKV_SysTime(90000 * kSec).FormatTime(), "25:00:00.000000000");
  EXPECT_STREQ(cKV_SysTime(90000 * kSec).FormatTimeShort(), "1:00:00");
  EXPECT_STREQ(cKV_SysTime(7 * 3600 * kSec + 309 * kSec).FormatTimeShort(), "7:05:09");
  // An absolute time: hours since 1970, and the UTC time of day whatever the zone.
  KV_ZONE(zone, "Asia/Tokyo");
  EXPECT_STREQ(cKV_SysTime(1236434709 * kSec + 42).FormatTime(), "343454:05:09.000000042");
  EXPECT_STREQ(cKV_SysTime(1236434709 * kSec + 42).FormatTimeShort(), "14:05:09");
  // Whole seconds are taken modulo 2^32.
  EXPECT_STREQ(cKV_SysTime((4294967296ULL + 3661) * kSec).FormatTime(), "1:01:01.000000000");

  EXPECT_STREQ(Fields(2009, 3, 7, 14, 5, 9, 999999999).ToString(), "2009/03/07 14:05:09.999");
  EXPECT_STREQ(Fields(987, 1, 2, 3, 4, 5, 1000000).ToString(), "0987/01/02 03:04:05.001");
}

// The current-time texts against the C library's own view of the moment
// (in a zone off UTC); a change of second between the reads is retried.
TEST(CurrentTimeText, MatchTheHostClock) {
  KV_ZONE(zone, "America/New_York");
  int attempt = 0;
  for (; attempt < 5; ++attempt) {
    time_t now = time(nullptr);
    std::string text(osGetLocalTimeStr()), shortText(osGetLocalShortTimeStr());
    unsigned int sys = osGetSysTime();
    if (time(nullptr) != now) continue;
    EXPECT_EQ(text, HostText(now, kAsctime));
    EXPECT_EQ(shortText, HostText(now, "%H:%M:%S"));
    EXPECT_EQ(sys, static_cast<unsigned int>(now));
    break;
  }
  EXPECT_LT(attempt, 5) << "the second kept changing";

  EXPECT_EQ(osGetSysTimeDiff(10, 25), -15.0);
  EXPECT_EQ(osGetSysTimeDiff(0, 0xFFFFFFFFu), -4294967295.0);

  KV_ZONE(utc, "UTC");
  EXPECT_STREQ(LocalTimeText(1236434709), "Sat Mar 07 14:05:09 2009\n");  // zero-padded day, unlike asctime
}

// A German locale (compiled from the sources that the locales package
// ships) changes what the C library prints, but not these texts.
TEST(CurrentTimeText, EnglishWhateverTheLocale) {
  kvtest::TempDir dir;
  auto made = kvtest::Run({"/usr/bin/localedef", "-i", "de_DE", "-f", "UTF-8", dir / "de_DE.UTF-8"});
  if (made.status != 0 && made.status != 1)  // 1: warnings only
    GTEST_SKIP() << "cannot compile a German locale (localedef and the locales package are needed): " << made.err;
  KV_ZONE(zone, "UTC");
  kvtest::SetEnv("LOCPATH", dir.Path().c_str());
  std::string saved = std::setlocale(LC_ALL, nullptr);
  bool loaded = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  std::string localised = HostText(1236434709, "%a %b"), ours(LocalTimeText(1236434709));
  std::setlocale(LC_ALL, saved.c_str());
  kvtest::SetEnv("LOCPATH", nullptr);
  if (!loaded) GTEST_SKIP() << "the compiled German locale does not load";
  EXPECT_EQ(localised, "Sa Mär");  // the locale is in force
  EXPECT_EQ(ours, "Sat Mar 07 14:05:09 2009\n");
}

TEST(CurrentTimeText, FailingHost) {
  for (auto [point, error] : {std::pair{"time.clock", EIO}, {"time.local", EOVERFLOW}, {"alloc", ENOMEM}}) {
    ScopedFault fault(point, error, 0, 10);
    EXPECT_STREQ(osGetLocalTimeStr(), "") << point;
    EXPECT_STREQ(osGetLocalShortTimeStr(), "") << point;
    EXPECT_TRUE(std::strcmp(point, "time.clock") != 0 || osGetSysTime() == 0xFFFFFFFFu);
  }
  // Without the zone, calendar fields are those of UTC and local fields
  // are taken as UTC.
  KV_ZONE(zone, "Asia/Tokyo");
  {
    ScopedFault local("time.local", EOVERFLOW, 0, 100);
    EXPECT_EQ(Text(FromSys(1236434709 * kSec)), "2009/03/07 14:05:09.000");
    EXPECT_EQ(ToUtcSeconds(Fields(2009, 3, 7, 14, 5, 9)), 1236434709);
  }
  EXPECT_EQ(ToUtcSeconds(Fields(2009, 3, 7, 23, 5, 9)), 1236434709);
}

// The log calls these from many threads at once.
TEST(CurrentTimeText, ConcurrentConversions) {
  KV_ZONE(zone, "Europe/Berlin");
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 500; ++i) {
        unsigned long long value = (1230768000ULL + static_cast<unsigned long long>(t * 500 + i) * 7919) * kSec;
        cKV_DateTime f;
        f = cKV_SysTime(value);
        cKV_SysTime back(0ULL);
        if (!f.ToSysTime(back) || back.value != value) ++failures[t];
        if (osGetLocalTimeStr().Length() != 25) ++failures[t];
      }
    });
  for (auto& th : threads) th.join();
  for (int f : failures) EXPECT_EQ(f, 0);
}

}  // namespace
