// The part of Google Benchmark's interface that the benchmarks use, for
// hosts where the library itself cannot be had (the MinGW-w64 cross build:
// Debian ships Google Benchmark built for Linux only, without sources).
// Each benchmark runs until it has taken at least the minimum time, with
// iteration counts growing as Google Benchmark's do; the report has the
// same columns.
#ifndef KV_BENCH_SHIM_BENCHMARK_H
#define KV_BENCH_SHIM_BENCHMARK_H

#include <cstdint>
#include <string>

namespace benchmark {

class State {
 public:
  explicit State(std::int64_t iterations) : _max(iterations) {}

  // Variables of this type are there to be ignored.
  struct __attribute__((unused)) Value {};
  class Iterator {
   public:
    explicit Iterator(State* state) : _state(state), _left(state != nullptr ? state->_max : 0) {}
    Value operator*() const { return {}; }
    Iterator& operator++() {
      --_left;
      return *this;
    }
    bool operator!=(Iterator const&) const {
      if (_left > 0 && !_state->_skipped) return true;
      _state->Finish();
      return false;
    }

   private:
    State* _state;
    std::int64_t _left;
  };
  Iterator begin();
  Iterator end() { return Iterator(nullptr); }

  std::int64_t iterations() const { return _max; }
  void SetBytesProcessed(std::int64_t bytes) { _bytes = bytes; }
  void SkipWithError(char const* message) {
    _skipped = true;
    _error = message;
  }

  // What the run measured.
  double seconds = 0;
  std::int64_t _max;
  std::int64_t _bytes = 0;
  bool _skipped = false;
  std::string _error;

 private:
  void Finish();
  long long _start = 0;
  bool _finished = false;
};

template <class T>
inline void DoNotOptimize(T const& value) {
  asm volatile("" : : "r,m"(value) : "memory");
}

namespace internal {
class Benchmark {
 public:
  Benchmark(char const* name, void (*fn)(State&));
  Benchmark* UseRealTime() { return this; }  // the shim measures real time only
};
}  // namespace internal

int RunAll(int argc, char** argv);

}  // namespace benchmark

#define KV_BENCH_CAT2(a, b) a##b
#define KV_BENCH_CAT(a, b) KV_BENCH_CAT2(a, b)
#define BENCHMARK(fn) \
  static ::benchmark::internal::Benchmark* KV_BENCH_CAT(kv_bench_, __LINE__) = (new ::benchmark::internal::Benchmark(#fn, fn))
#define BENCHMARK_MAIN() \
  int main(int argc, char** argv) { return ::benchmark::RunAll(argc, argv); }

#endif
