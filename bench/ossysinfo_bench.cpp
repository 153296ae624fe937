// The monitors against reading the same host files directly, and the cost
// of describing the machine at load.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "OS/internal/sysinfo.h"
#include "OS/ossysinfo.h"

using Korvane::iKV_SysLoadMon;

namespace {

void SysLoadCollect(benchmark::State& state, int mask) {
  iKV_SysLoadMon* mon = iKV_SysLoadMon::Create(nullptr, mask);
  if (mon == nullptr) {
    state.SkipWithError("the monitor cannot be created");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(mon->Collect(nullptr));
    benchmark::DoNotOptimize(mon->GetCpuLoad(nullptr));
  }
  delete mon;
}

void BM_SysLoadMon_Collect_All(benchmark::State& state) { SysLoadCollect(state, 15); }
BENCHMARK(BM_SysLoadMon_Collect_All);

void BM_SysLoadMon_Collect_Cpu(benchmark::State& state) { SysLoadCollect(state, 1); }
BENCHMARK(BM_SysLoadMon_Collect_Cpu);

void BM_SysLoadMon_Collect_Memory(benchmark::State& state) { SysLoadCollect(state, 14); }
BENCHMARK(BM_SysLoadMon_Collect_Memory);

// What a caller without the library would do: keep each file open as the
// monitor does, read it afresh from its start, and pick the figures out with
// the C library.
struct HostFiles {
  int stat = open("/proc/stat", O_RDONLY | O_CLOEXEC);
  int meminfo = open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
  ~HostFiles() {
    close(stat);
    close(meminfo);
  }
};

long ReadFromStart(int fd, char* buf, std::size_t cap) {
  long n = pread(fd, buf, cap - 1, 0);
  if (n >= 0) buf[n] = '\0';
  return n;
}

// Opened, read and closed per call, as the library reads the process figures.
long ReadWhole(char const* path, char* buf, std::size_t cap) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  long n = ReadFromStart(fd, buf, cap);
  close(fd);
  return n;
}

void DirectStat(HostFiles const& files) {
  char buf[512];  // the aggregate line comes first
  if (ReadFromStart(files.stat, buf, sizeof buf) > 0) {
    unsigned long long v[8] = {};
    std::sscanf(buf, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6],
                &v[7]);
    benchmark::DoNotOptimize(v);
  }
}

void DirectMeminfo(HostFiles const& files) {
  char buf[4096];
  if (ReadFromStart(files.meminfo, buf, sizeof buf) > 0) {
    unsigned long long avail = 0, swapTotal = 0, swapFree = 0;
    if (char const* p = std::strstr(buf, "MemAvailable:")) avail = std::strtoull(p + 13, nullptr, 10);
    if (char const* p = std::strstr(buf, "SwapTotal:")) swapTotal = std::strtoull(p + 10, nullptr, 10);
    if (char const* p = std::strstr(buf, "SwapFree:")) swapFree = std::strtoull(p + 9, nullptr, 10);
    benchmark::DoNotOptimize(avail + swapTotal + swapFree);
  }
}

void BM_Direct_Read_StatAndMeminfo(benchmark::State& state) {
  HostFiles files;
  for (auto _ : state) {
    DirectStat(files);
    DirectMeminfo(files);
  }
}
BENCHMARK(BM_Direct_Read_StatAndMeminfo);

void BM_Direct_Read_Stat(benchmark::State& state) {
  HostFiles files;
  for (auto _ : state) DirectStat(files);
}
BENCHMARK(BM_Direct_Read_Stat);

void BM_Direct_Read_Meminfo(benchmark::State& state) {
  HostFiles files;
  for (auto _ : state) DirectMeminfo(files);
}
BENCHMARK(BM_Direct_Read_Meminfo);

void BM_ProcStatMon_Collect(benchmark::State& state) {
  Korvane::iKV_ProcStatMon* mon = Korvane::iKV_ProcStatMon::Create(nullptr);
  if (mon == nullptr) {
    state.SkipWithError("the monitor cannot be created");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(mon->Collect(nullptr));
    benchmark::DoNotOptimize(mon->GetProcCpuLoad(nullptr));
  }
  delete mon;
}
BENCHMARK(BM_ProcStatMon_Collect);

// The same figures straight from the host: processor clock, resource usage
// and statm.
void BM_Direct_ProcessFigures(benchmark::State& state) {
  for (auto _ : state) {
    timespec cpu, now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    clock_gettime(CLOCK_BOOTTIME, &now);
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    char buf[256];
    unsigned long long size = 0, resident = 0;
    if (ReadWhole("/proc/self/statm", buf, sizeof buf) > 0) std::sscanf(buf, "%llu %llu", &size, &resident);
    benchmark::DoNotOptimize(cpu.tv_nsec + now.tv_nsec + u.ru_minflt + static_cast<long>(resident));
  }
}
BENCHMARK(BM_Direct_ProcessFigures);

void BM_osGetProcessTime_Self(benchmark::State& state) {
  Korvane::cKV_SysTime t;
  for (auto _ : state) {
    Korvane::osGetProcessTime(t);
    benchmark::DoNotOptimize(t.value);
  }
}
BENCHMARK(BM_osGetProcessTime_Self);

void BM_osGetProcessTime_Pid(benchmark::State& state) {
  Korvane::cKV_SysTime t;
  auto pid = static_cast<unsigned int>(getpid());
  for (auto _ : state) benchmark::DoNotOptimize(Korvane::osGetProcessTime(pid, t));
}
BENCHMARK(BM_osGetProcessTime_Pid);

// The usual ways without the library: the process clock, and the times in
// /proc/PID/stat (at the grain of a clock tick).
void BM_Direct_ClockGettime_Process(benchmark::State& state) {
  for (auto _ : state) {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    benchmark::DoNotOptimize(t.tv_nsec);
  }
}
BENCHMARK(BM_Direct_ClockGettime_Process);

void BM_Direct_Read_ProcPidStat(benchmark::State& state) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(getpid()));
  for (auto _ : state) {
    char buf[1024];
    unsigned long long utime = 0, stime = 0;
    if (ReadWhole(path, buf, sizeof buf) > 0)
      if (char const* p = std::strrchr(buf, ')'))
        std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime);
    benchmark::DoNotOptimize(utime + stime);
  }
}
BENCHMARK(BM_Direct_Read_ProcPidStat);

void BM_osGetCurProcVMSize(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Korvane::osGetCurProcVMSize());
}
BENCHMARK(BM_osGetCurProcVMSize);

// The load sequence's step.
void BM_DescribeHost(benchmark::State& state) {
  Korvane::sysinfo::HostDescription d;
  for (auto _ : state) {
    Korvane::sysinfo::DescribeHost(d);
    benchmark::DoNotOptimize(d.cpuCount);
  }
}
BENCHMARK(BM_DescribeHost)->Unit(benchmark::kMicrosecond);

}  // namespace
