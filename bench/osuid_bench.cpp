// Identifier generation: the rate one process reaches (at most one per
// millisecond by design) and the processor time that waiting costs.
#include <benchmark/benchmark.h>

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
