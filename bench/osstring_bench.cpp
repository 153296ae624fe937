// cKV_String against std::string, and the base-64 number text.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "OS/osstring.h"

using Korvane::cKV_DataConv;
using Korvane::cKV_String;

namespace {

void BM_Format_KvString(benchmark::State& state) {
  cKV_String s;
  int i = 0;
  for (auto _ : state) {
    s.Format("Failed to open file [%s] for write, attempt %d", "/var/log/app/server.cfg", ++i);
    benchmark::DoNotOptimize(static_cast<char const*>(s));
  }
}
BENCHMARK(BM_Format_KvString);

// The baseline formats once into a stack buffer as large as the library's
// and only when the result does not fit asks for its size and formats again.
template <class... Args>
void FormatOnce(std::string& s, char const* format, Args... args) {
  char buf[512];
  int n = std::snprintf(buf, sizeof buf, format, args...);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) < sizeof buf) {
    s.assign(buf, static_cast<std::size_t>(n));
    return;
  }
  s.resize(static_cast<std::size_t>(n));
  std::snprintf(s.data(), s.size() + 1, format, args...);
}

void BM_Format_Snprintf(benchmark::State& state) {
  std::string s;
  int i = 0;
  for (auto _ : state) {
    FormatOnce(s, "Failed to open file [%s] for write, attempt %d", "/var/log/app/server.cfg", ++i);
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_Format_Snprintf);

// A result far above the first guess: the doubling path.
void BM_FormatLong_KvString(benchmark::State& state) {
  std::string arg(static_cast<std::size_t>(state.range(0)), 'x');
  cKV_String s;
  for (auto _ : state) {
    s.Format("[%s]", arg.c_str());
    benchmark::DoNotOptimize(static_cast<char const*>(s));
  }
}
BENCHMARK(BM_FormatLong_KvString)->Arg(100)->Arg(10000);

void BM_FormatLong_Snprintf(benchmark::State& state) {
  std::string arg(static_cast<std::size_t>(state.range(0)), 'x');
  std::string s;
  for (auto _ : state) {
    FormatOnce(s, "[%s]", arg.c_str());
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_FormatLong_Snprintf)->Arg(100)->Arg(10000);

// Appends: every append reallocates to the exact size by design.
void BM_Append_KvString(benchmark::State& state) {
  for (auto _ : state) {
    cKV_String s;
    for (int i = 0; i < state.range(0); ++i) s += "0123456789";
    benchmark::DoNotOptimize(static_cast<char const*>(s));
  }
}
BENCHMARK(BM_Append_KvString)->Arg(10)->Arg(100);

void BM_Append_StdString(benchmark::State& state) {
  for (auto _ : state) {
    std::string s;
    for (int i = 0; i < state.range(0); ++i) s += "0123456789";
    benchmark::DoNotOptimize(s.data());
  }
}
BENCHMARK(BM_Append_StdString)->Arg(10)->Arg(100);

void BM_Base64Encode(benchmark::State& state) {
  char text[8];
  unsigned int v = 1;
  for (auto _ : state) {
    v = v * 1664525u + 1013904223u;
    benchmark::DoNotOptimize(cKV_DataConv::LongToStr64(static_cast<int>(v), text));
  }
}
BENCHMARK(BM_Base64Encode);

void BM_Base64Decode(benchmark::State& state) {
  char const* texts[] = {"1$$$$$", "-W000", "zz", "0", "abcdef"};
  int value = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(cKV_DataConv::Str64ToLong(texts[i++ % 5], value));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_Base64Decode);

// Decimal through the C library, for scale.
void BM_DecimalEncode_Snprintf(benchmark::State& state) {
  char text[16];
  unsigned int v = 1;
  for (auto _ : state) {
    v = v * 1664525u + 1013904223u;
    benchmark::DoNotOptimize(std::snprintf(text, sizeof text, "%d", static_cast<int>(v)));
  }
}
BENCHMARK(BM_DecimalEncode_Snprintf);

void BM_DecimalDecode_Strtol(benchmark::State& state) {
  char const* texts[] = {"2147483647", "-8388608", "3965", "0", "1234567"};
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(std::strtol(texts[i++ % 5], nullptr, 10));
}
BENCHMARK(BM_DecimalDecode_Strtol);

}  // namespace
