#include "benchmark/benchmark.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace benchmark {

namespace {

struct Entry {
  std::string name;
  void (*fn)(State&);
};

std::vector<Entry>& Registry() {
  static std::vector<Entry> entries;
  return entries;
}

long long NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

State::Iterator State::begin() {
  _start = NowNs();
  return Iterator(this);
}

void State::Finish() {
  if (_finished) return;
  _finished = true;
  seconds = static_cast<double>(NowNs() - _start) / 1e9;
}

namespace internal {
Benchmark::Benchmark(char const* name, void (*fn)(State&)) { Registry().push_back({name, fn}); }
}  // namespace internal

// Runs each benchmark (those whose name holds the text of
// --benchmark_filter=, when given) with growing iteration counts until a
// run takes at least --benchmark_min_time= seconds (0.5 by default).
int RunAll(int argc, char** argv) {
  std::string filter;
  double minTime = 0.5;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--benchmark_filter=", 19) == 0) filter = argv[i] + 19;
    if (std::strncmp(argv[i], "--benchmark_min_time=", 21) == 0) minTime = std::atof(argv[i] + 21);
  }
  std::printf("%-40s %15s %12s %s\n", "Benchmark", "Time", "Iterations", "UserCounters...");
  for (Entry const& e : Registry()) {
    if (!filter.empty() && e.name.find(filter) == std::string::npos) continue;
    std::int64_t n = 1;
    for (;;) {
      State state(n);
      e.fn(state);
      if (state._skipped) {
        std::printf("%-40s ERROR OCCURRED: '%s'\n", e.name.c_str(), state._error.c_str());
        break;
      }
      if (state.seconds >= minTime || n >= 1000000000) {
        double ns = state.seconds * 1e9 / static_cast<double>(n);
        std::printf("%-40s %12.0f ns %12lld", e.name.c_str(), ns, static_cast<long long>(n));
        if (state._bytes > 0) std::printf(" bytes_per_second=%.4gMi/s", state._bytes / state.seconds / 1048576.0);
        std::printf("\n");
        break;
      }
      // Aim past the minimum time, growing at most tenfold a round.
      double perIteration = state.seconds > 0 ? state.seconds / static_cast<double>(n) : 0;
      std::int64_t next = perIteration > 0 ? static_cast<std::int64_t>(minTime * 1.4 / perIteration) : n * 10;
      n = next > n * 10 ? n * 10 : next <= n ? n + 1 : next;
    }
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace benchmark

BENCHMARK_MAIN();
