// The time unit against the C library calls it stands on.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "OS/ostime.h"

using Korvane::cKV_DateTime;
using Korvane::cKV_SysTime;
using Korvane::tTimeb;

namespace {

// A zone with daylight saving, so that conversions do real zone work.
void UseZone() {
  static bool const set = [] {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    return true;
  }();
  (void)set;
}

// Instants spread over a few years, so that no single zone rule is cached.
unsigned long long Instant(unsigned i) { return (1230768000ULL + (i * 7919ULL) % 126230400ULL) * 1000000000ULL; }

void BM_GetSysTime(benchmark::State& state) {
  cKV_SysTime t;
  for (auto _ : state) {
    t.GetSysTime();
    benchmark::DoNotOptimize(t.value);
  }
}
BENCHMARK(BM_GetSysTime);

void BM_TimebGetTime(benchmark::State& state) {
  tTimeb t;
  for (auto _ : state) {
    t.GetTime();
    benchmark::DoNotOptimize(t);
  }
}
BENCHMARK(BM_TimebGetTime);

void BM_ClockGettime(benchmark::State& state) {
  timespec ts;
  for (auto _ : state) {
    clock_gettime(CLOCK_REALTIME, &ts);
    benchmark::DoNotOptimize(ts);
  }
}
BENCHMARK(BM_ClockGettime);

void BM_DateTimeFromSysTime(benchmark::State& state) {
  UseZone();
  cKV_DateTime f;
  unsigned i = 0;
  for (auto _ : state) {
    f = cKV_SysTime(Instant(++i));
    benchmark::DoNotOptimize(f);
  }
}
BENCHMARK(BM_DateTimeFromSysTime);

void BM_LocaltimeR(benchmark::State& state) {
  UseZone();
  tm fields;
  unsigned i = 0;
  for (auto _ : state) {
    time_t t = static_cast<time_t>(Instant(++i) / 1000000000ULL);
    benchmark::DoNotOptimize(localtime_r(&t, &fields));
  }
}
BENCHMARK(BM_LocaltimeR);

void BM_DateTimeToSysTime(benchmark::State& state) {
  UseZone();
  cKV_DateTime fields[64];
  for (unsigned k = 0; k < 64; ++k) fields[k] = cKV_SysTime(Instant(k * 101));
  cKV_SysTime out;
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(fields[++i % 64].ToSysTime(out));
    benchmark::DoNotOptimize(out.value);
  }
}
BENCHMARK(BM_DateTimeToSysTime);

void BM_Mktime(benchmark::State& state) {
  UseZone();
  tm fields[64];
  for (unsigned k = 0; k < 64; ++k) {
    time_t t = static_cast<time_t>(Instant(k * 101) / 1000000000ULL);
    localtime_r(&t, &fields[k]);
  }
  unsigned i = 0;
  for (auto _ : state) {
    tm f = fields[++i % 64];
    f.tm_isdst = -1;
    benchmark::DoNotOptimize(mktime(&f));
  }
}
BENCHMARK(BM_Mktime);

void BM_LocalTimeStr(benchmark::State& state) {
  UseZone();
  for (auto _ : state) benchmark::DoNotOptimize(static_cast<char const*>(Korvane::osGetLocalTimeStr()));
}
BENCHMARK(BM_LocalTimeStr);

// What a caller would write by hand for the same text.
void BM_LocalTimeStrByHand(benchmark::State& state) {
  UseZone();
  char text[32];
  for (auto _ : state) {
    time_t t = time(nullptr);
    tm f;
    localtime_r(&t, &f);
    std::strftime(text, sizeof text, "%a %b %d %H:%M:%S %Y\n", &f);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_LocalTimeStrByHand);

void BM_SysTimeToString(benchmark::State& state) {
  UseZone();
  unsigned i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(static_cast<char const*>(cKV_SysTime(Instant(++i)).ToString()));
}
BENCHMARK(BM_SysTimeToString);

}  // namespace
