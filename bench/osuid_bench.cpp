// Identifier generation: the rate one process reaches (at most one per
// millisecond by design) and the processor time that waiting costs.
#include <benchmark/benchmark.h>

#include <ctime>

#include "OS/osuid.h"

namespace {

void BM_UidGenerate(benchmark::State& state) {
  Korvane::cKV_Uid u;
  for (auto _ : state) {
    u.Generate();
    benchmark::DoNotOptimize(u.GetBuffer());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
// Real time: items per second is the process's rate; CPU time per
// iteration is what the pacing costs the processor.
BENCHMARK(BM_UidGenerate)->Threads(1)->Threads(8)->UseRealTime()->MinTime(2.0);

// The host's ceiling for the same pacing: sleep to the next millisecond of
// the real-time clock and read it. Timer latency on a loaded or virtual
// machine loses whole milliseconds here too.
void BM_HostMillisecondTicks(benchmark::State& state) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  long long ms = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + 1;
  for (auto _ : state) {
    timespec until{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &until, nullptr);
    clock_gettime(CLOCK_REALTIME, &now);
    ms = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + 1;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_HostMillisecondTicks)->UseRealTime()->MinTime(2.0);

void BM_UidToString(benchmark::State& state) {
  Korvane::cKV_Uid u;
  u.Generate();
  for (auto _ : state) benchmark::DoNotOptimize(static_cast<char const*>(u.ToString()));
}
BENCHMARK(BM_UidToString);

void BM_UidFromString(benchmark::State& state) {
  Korvane::cKV_Uid u;
  for (auto _ : state) benchmark::DoNotOptimize(u.FromString("0x02fc000000013930000001bb93676f00"));
}
BENCHMARK(BM_UidFromString);

}  // namespace
