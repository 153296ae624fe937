// Records per second of a file log that flushes every record, against a
// plain write(2) of a record of the same size and, when it is installed,
// spdlog's basic file sink flushing every record; and the cost of a call
// whose record the level drops.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "OS/oslog.h"

#ifdef KV_BENCH_HAVE_SPDLOG
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif

using Korvane::cKV_Log;

namespace {

// 100 bytes of message.
std::string const kMessage = std::string(94, 'm') + " 12345";

// A fresh directory for the run's files, removed at the end of the run.
struct BenchDir {
  BenchDir() {
    char const* base = std::getenv("TMPDIR");
    path = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kvos-bench-XXXXXX";
    if (mkdtemp(path.data()) == nullptr) std::abort();
  }
  ~BenchDir() { rmdir(path.c_str()); }
  std::string path;
};

std::string const& Dir() {
  static BenchDir const dir;
  return dir.path;
}

cKV_Log* g_log = nullptr;

void BM_LogFile(benchmark::State& state) {
  std::string path = Dir() + "/kv.log";
  if (state.thread_index() == 0) {
    std::remove(path.c_str());
    g_log = cKV_Log::Create(nullptr, path.c_str());
  }
  for (auto _ : state) cKV_Log::Log(g_log, 2, "bench.cpp", 42, "%s", kMessage.c_str());
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    delete g_log;
    std::remove(path.c_str());
  }
}
BENCHMARK(BM_LogFile)->Threads(1)->Threads(4)->UseRealTime();

void BM_LogDropped(benchmark::State& state) {
  std::string path = Dir() + "/dropped.log";
  if (state.thread_index() == 0) g_log = cKV_Log::Create(nullptr, path.c_str());
  for (auto _ : state) cKV_Log::Log(g_log, 3, "bench.cpp", 42, "%s", kMessage.c_str());
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    delete g_log;
    std::remove(path.c_str());
  }
}
BENCHMARK(BM_LogDropped)->Threads(1)->Threads(4)->UseRealTime();

// The floor: one write(2) of a composed record of the same length.
void BM_WriteOnly(benchmark::State& state) {
  std::string path = Dir() + "/raw.log";
  std::string record = "Sat Mar 07 14:05:09 2009\n [1A4] LEVEL:2 FILE:bench.cpp[42]\n MSG:" + kMessage + "\n\n";
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  for (auto _ : state) benchmark::DoNotOptimize(write(fd, record.data(), record.size()));
  state.SetItemsProcessed(state.iterations());
  close(fd);
  std::remove(path.c_str());
}
BENCHMARK(BM_WriteOnly)->UseRealTime();

#ifdef KV_BENCH_HAVE_SPDLOG
std::shared_ptr<spdlog::logger> g_spdlog;

// The same record layout, flushed after every record.
std::shared_ptr<spdlog::logger> MakeSpdlog(std::string const& path) {
  auto logger = spdlog::basic_logger_mt("bench", path, true);
  logger->set_pattern("%a %b %d %H:%M:%S %Y\n [%t] LEVEL:%l FILE:%s[%#]\n MSG:%v\n");
  logger->flush_on(spdlog::level::trace);
  logger->set_level(spdlog::level::info);
  return logger;
}

void BM_SpdlogFile(benchmark::State& state) {
  std::string path = Dir() + "/spd.log";
  if (state.thread_index() == 0) g_spdlog = MakeSpdlog(path);
  for (auto _ : state) g_spdlog->log(spdlog::source_loc{"bench.cpp", 42, ""}, spdlog::level::info, "{}", kMessage);
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    g_spdlog.reset();
    spdlog::drop_all();
    std::remove(path.c_str());
  }
}
BENCHMARK(BM_SpdlogFile)->Threads(1)->Threads(4)->UseRealTime();

void BM_SpdlogDropped(benchmark::State& state) {
  std::string path = Dir() + "/spd-dropped.log";
  if (state.thread_index() == 0) g_spdlog = MakeSpdlog(path);
  for (auto _ : state)
    g_spdlog->log(spdlog::source_loc{"bench.cpp", 42, ""}, spdlog::level::debug, "{}", kMessage);
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    g_spdlog.reset();
    spdlog::drop_all();
    std::remove(path.c_str());
  }
}
BENCHMARK(BM_SpdlogDropped)->Threads(1)->Threads(4)->UseRealTime();
#endif

}  // namespace
