// kvos proc: a process's processor load and time, one line per sample; for
// the tool's own process also its page faults and resident size.
#include <cstdio>
#include <string>

#include "OS/ossysinfo.h"
#include "OS/osthread.h"
#include "OS/ostime.h"
#include "command.h"
#include "sampling.h"

namespace kvos {
namespace {

using Korvane::cKV_SysInfo;
using Korvane::cKV_SysTime;

int Run(Args const& args);

Command const kCommand{"proc", "sample a process's processor load and time",
                       "Usage: kvos proc PID [--interval MS] [--count N]\n"
                       "       kvos proc self [--interval MS] [--count N]\n"
                       "\n"
                       "Prints one line per sample: the process's processor load in percent of\n"
                       "the whole machine over the interval, and its processor time so far.\n"
                       "For 'self' (the tool's own process) also the page faults of the interval\n"
                       "and the resident size. Samples every MS milliseconds (default 1000), N\n"
                       "times (default: until interrupted).\n",
                       Run};
KVOS_COMMAND(kCommand);

// The monitor's rule: rounded, clamped to 0..100.
int Load(unsigned long long cpuNs, unsigned long long wallNs) {
  if (wallNs == 0) return 0;
  double load = static_cast<double>(cpuNs) / (static_cast<double>(cKV_SysInfo::GetCpuCount()) *
                                              static_cast<double>(wallNs)) * 100.0 + 0.5;
  return load > 100.0 ? 100 : load < 0.0 ? 0 : static_cast<int>(load);
}

int RunSelf(Sampling const& sampling) {
  Korvane::cKV_Error err;
  Korvane::iKV_ProcStatMon* mon = Korvane::iKV_ProcStatMon::Create(&err);
  if (mon == nullptr || !mon->Collect(&err)) {
    delete mon;
    return Failure(kCommand, static_cast<char const*>(err.GetText()));
  }
  std::printf("%4s %20s %8s %14s\n", "cpu%", "cpu-time", "faults", "resident-KiB");
  std::fflush(stdout);
  int status = kOk;
  for (long long i = 0; sampling.count == 0 || i < sampling.count; ++i) {
    Korvane::osSleep(static_cast<unsigned int>(sampling.intervalMs));
    if (!mon->Collect(&err)) {
      status = Failure(kCommand, static_cast<char const*>(err.GetText()));
      break;
    }
    int load = mon->GetProcCpuLoad(nullptr);
    cKV_SysTime cpu;
    Korvane::osGetProcessTime(cpu);
    std::printf("%4d %20s %8d %14llu\n", load, static_cast<char const*>(cpu.FormatTime()),
                mon->GetProcPageFaultCount(), mon->GetProcMemoryLoad() / 1024);
    std::fflush(stdout);
  }
  delete mon;
  return status;
}

int RunOther(unsigned int pid, Sampling const& sampling) {
  cKV_SysTime before(0ULL), now;
  if (!Korvane::osGetProcessTime(pid, before))
    return Failure(kCommand, "no process with identifier " + std::to_string(pid) + " can be watched");
  cKV_SysTime start;
  start.GetSysTime();
  std::printf("%4s %20s\n", "cpu%", "cpu-time");
  std::fflush(stdout);
  for (long long i = 0; sampling.count == 0 || i < sampling.count; ++i) {
    Korvane::osSleep(static_cast<unsigned int>(sampling.intervalMs));
    cKV_SysTime after(0ULL);
    if (!Korvane::osGetProcessTime(pid, after))
      return Failure(kCommand, "process " + std::to_string(pid) + " has ended");
    now.GetSysTime();
    // The wall clock may be set back; such an interval has no load.
    unsigned long long wall = now.value > start.value ? now.value - start.value : 0;
    unsigned long long cpu = after.value > before.value ? after.value - before.value : 0;
    std::printf("%4d %20s\n", Load(cpu, wall), static_cast<char const*>(after.FormatTime()));
    std::fflush(stdout);
    before = after;
    start = now;
  }
  return kOk;
}

int Run(Args const& args) {
  if (args.empty()) return UsageError(kCommand, "missing PID");
  Sampling sampling;
  Args rest;
  if (!ParseSampling(kCommand, args, 0, sampling, rest)) return kBadUsage;
  if (rest.empty()) return UsageError(kCommand, "missing PID");
  if (rest.size() > 1) return UsageError(kCommand, "unexpected argument '" + rest[1] + "'");
  if (rest[0] == "self") return RunSelf(sampling);
  long long pid = 0;
  if (!ParseInteger(rest[0], 1, 0xFFFFFFFFLL, pid))
    return UsageError(kCommand, "PID must be a process identifier from 1 to 4294967295, not '" + rest[0] + "'");
  return RunOther(static_cast<unsigned int>(pid), sampling);
}

}  // namespace
}  // namespace kvos
