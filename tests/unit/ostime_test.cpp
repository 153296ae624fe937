// The nanosecond time and the seconds-plus-milliseconds time.
#include "OS/ostime.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <limits>
#include <string>
#include <utility>

#include "support/testing.h"
#include "unit/ostime_zone.h"

using Korvane::cKV_SysTime;
using Korvane::tTimeb;
using kvtest::ScopedFault;
using kvtest::ScopedZone;

namespace {

constexpr unsigned long long kAllOnes = 0xFFFFFFFFFFFFFFFFULL;


unsigned long long NowNs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<unsigned long long>(ts.tv_sec) * 1000000000ULL + static_cast<unsigned long long>(ts.tv_nsec);
}

tTimeb Tb(int s, unsigned short ms) {
  tTimeb t;
  t.seconds = s, t.milliseconds = ms;
  return t;
}

// "seconds milliseconds"
std::string S(tTimeb t) { return std::to_string(t.seconds) + " " + std::to_string(t.milliseconds); }

TEST(SysTime, ConstructionAndParts) {
  cKV_SysTime t(3, 500);
  EXPECT_EQ(t.value, 3000000500ULL);
  EXPECT_EQ(t.GetMilliseconds(), 3000u);
  // nsec is not folded, it adds; the product is 64-bit even for 32-bit inputs.
  EXPECT_EQ(cKV_SysTime(0, 2500000000u).value, 2500000000ULL);
  EXPECT_EQ(cKV_SysTime(0xFFFFFFFFu, 0xFFFFFFFFu).value, 4294967295ULL * 1000000000ULL + 4294967295ULL);

  // Seconds and milliseconds are the low 32 bits of the whole counts (not
  // the milliseconds within the second).
  cKV_SysTime big((4294967296ULL + 5) * 1000000000ULL + 123456789);
  EXPECT_EQ(big.GetSeconds(), 5u);
  EXPECT_EQ(big.GetFracNanoseconds(), 123456789u);
  EXPECT_EQ(big.GetMilliseconds(), static_cast<unsigned int>(big.value / 1000000ULL));
  // Assignments and conversions carry the bits unchanged.
}

TEST(SysTime, ArithmeticWrapsAndComparisonsAreUnsigned) {
  cKV_SysTime top(kAllOnes), two(2ULL), inf(cKV_SysTime::Infinity);
  EXPECT_TRUE(top > inf && top > two && cKV_SysTime(0ULL) <= two && top >= inf && top == -1LL);
  // Infinity is one exact value.
  EXPECT_TRUE(inf.IsInfinity() && !top.IsInfinity() && !cKV_SysTime(0x8000000000000000ULL).IsInfinity());

  cKV_SysTime t(1000000ULL);
  t.AddMilliseconds(-2);
  EXPECT_EQ(t.value, 0xFFFFFFFFFFF0BDC0ULL);
  t.AddMilliseconds(1);
  EXPECT_EQ(t.value, 0ULL);
  // The count is widened before it is scaled: no 32-bit overflow.
  t.AddMilliseconds(INT_MAX);
  EXPECT_EQ(t.value, 2147483647ULL * 1000000ULL);
  t.AddMilliseconds(INT_MIN);
  EXPECT_EQ(t.value, static_cast<unsigned long long>(-1000000LL));

  EXPECT_EQ((top + two).value, 1ULL);
  EXPECT_EQ((two - top).value, 3ULL);
  two -= 3LL;
  EXPECT_EQ(two.value, kAllOnes);
}

TEST(SysTime, ScalingGoesThroughTheUnsignedMagnitude) {
  EXPECT_EQ((cKV_SysTime(7ULL) / 2.0).value, 3ULL);                                    // truncated
  EXPECT_EQ((cKV_SysTime(7ULL) * -0.5).value, static_cast<unsigned long long>(-3LL));  // toward zero
  // A value with the top bit set is a large unsigned count, not a negative one.
  EXPECT_EQ((cKV_SysTime(0x8000000000000000ULL) / 2.0).value, 0x4000000000000000ULL);
  // Results outside the signed range saturate; no number gives 0.
  EXPECT_TRUE((cKV_SysTime(5ULL) / 0.0).IsInfinity());
  EXPECT_EQ((cKV_SysTime(5ULL) * -1e300).value, 0x8000000000000000ULL);
  EXPECT_EQ((cKV_SysTime(0ULL) / 0.0).value, 0ULL);
}

TEST(SysTime, ReadsTheRealTimeClock) {
  unsigned long long before = NowNs();
  cKV_SysTime t;
  t.GetSysTime();
  unsigned long long after = NowNs();
  EXPECT_EQ(t.value % 100, 0u);
  EXPECT_GE(t.value + 100, before);
  EXPECT_LE(t.value, after);

  // Elapsed milliseconds: a time 1.5 s back gives at least 1500.
  unsigned int elapsed = cKV_SysTime(t.value - 1500000000ULL).GetTiming();
  EXPECT_GE(elapsed, 1500u);
  // A later time gives the low 32 bits of the wrapped 64-bit difference.
  unsigned int wrapped = cKV_SysTime(NowNs() + 10000000000ULL).GetTiming();
  unsigned int atOnce = static_cast<unsigned int>((0ULL - 10000000000ULL - 100ULL) / 1000000ULL);
  EXPECT_LE(wrapped - atOnce, 600000u);
}

TEST(Timeb, ConstructionFoldsMilliseconds) {
  EXPECT_EQ(S(tTimeb(5, 2500)), "7 500");
  EXPECT_EQ(S(tTimeb(INT_MAX, 1000)), "-2147483648 0");  // 32-bit seconds wrap

  // Negative counts keep the milliseconds in 0..999 and read back unchanged.
  tTimeb t;
  t = -1500;
  EXPECT_EQ(S(t), "-2 500");
  EXPECT_EQ(t.GetMilliseconds(), -1500);
  // 32-bit arithmetic: 3 000 000 s is beyond a 32-bit millisecond count.
  EXPECT_EQ(Tb(3000000, 0).GetMilliseconds(), static_cast<int>(3000000000u));

  // Comparisons take the signed seconds first.
  EXPECT_TRUE(Tb(-1, 999) < Tb(0, 0));
  EXPECT_FALSE(Tb(1, 2) < Tb(1, 2));
}

TEST(Timeb, SumsDifferencesAndScalingCarryAndBorrow) {
  EXPECT_EQ(S(tTimeb(1, 999) + tTimeb(0, 999)), "2 998");
  EXPECT_EQ(S(tTimeb(1, 900) - tTimeb(2, 100)), "-1 800");
  EXPECT_EQ(S(Tb(INT_MAX, 500) + Tb(0, 500)), "-2147483648 0");  // wraps like the 32-bit host

  tTimeb t(1, 700);
  t.AddMilliseconds(1500);
  EXPECT_EQ(S(t), "3 200");
  t.AddMilliseconds(-3201);
  EXPECT_EQ(S(t), "-1 999");

  EXPECT_EQ(S(tTimeb(2, 750) * 1.5), "4 125");
  EXPECT_EQ(S(tTimeb(1, 999) / 0.5), "3 998");  // milliseconds carry more than once
  // A negative product borrows instead of leaving a negative remainder.
  EXPECT_EQ(S(tTimeb(1, 0) * -1.5), "-2 500");
  // Beyond 32 bits the seconds saturate; no number counts as 0.
  EXPECT_EQ((tTimeb(1, 0) / 0.0).seconds, INT_MAX);
  EXPECT_EQ(S(tTimeb(1, 0) * std::numeric_limits<double>::quiet_NaN()), "0 0");
}

TEST(Timeb, ReadsTheClockAndMeasuresElapsedTime) {
  time_t before = time(nullptr);
  tTimeb now;
  now.GetTime();
  time_t after = time(nullptr);
  EXPECT_GE(now.seconds, static_cast<int>(before));
  EXPECT_LE(now.seconds, static_cast<int>(after));

  int elapsed = (now - tTimeb(2, 250)).GetTiming();
  EXPECT_GE(elapsed, 2250);
  EXPECT_EQ((now + 100).GetTiming(), 0);  // in the future
}

TEST(Timeb, TextIsLocalCalendarTime) {
  {
    KV_ZONE(utc, "UTC");
    EXPECT_STREQ(tTimeb(0, 0).ToString(), "1970/01/01 00:00:00.000");
    EXPECT_STREQ(Tb(-1, 999).ToString(), "1969/12/31 23:59:59.999");
    EXPECT_STREQ(Tb(INT_MAX, 7).ToString(), "2038/01/19 03:14:07.007");
  }
  KV_ZONE(newYork, "America/New_York");
  EXPECT_STREQ(tTimeb(1246453509, 0).ToString(), "2009/07/01 09:05:09.000");  // daylight time
}

TEST(Time, FailingHostClockAndZone) {
  {
    ScopedFault clock("time.clock", EIO, 0, 10);
    cKV_SysTime t(5ULL);
    t.GetSysTime();
    EXPECT_EQ(t.value, 0ULL);
    tTimeb b(5, 5);
    b.GetTime();
    EXPECT_EQ(S(b), "0 0");
    EXPECT_GE(clock.Failures(), 2u);
  }
  for (auto [point, error] : {std::pair{"time.local", EOVERFLOW}, {"alloc", ENOMEM}}) {
    ScopedFault fault(point, error, 0, 100);
    EXPECT_STREQ(tTimeb(1236434709, 42).ToString(), "") << point;
  }
}

}  // namespace
