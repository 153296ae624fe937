// kvos load: the machine's processor load, available memory and swap, one
// line per sample, in the manner of vmstat.
#include <cstdio>

#include "OS/ossysinfo.h"
#include "OS/osthread.h"
#include "command.h"
#include "sampling.h"

namespace kvos {
namespace {

using Korvane::iKV_SysLoadMon;

int Run(Args const& args);

Command const kCommand{"load", "sample the machine's processor load, free memory and swap",
                       "Usage: kvos load [--interval MS] [--count N]\n"
                       "\n"
                       "Prints one line per sample: the processor load of the whole machine in\n"
                       "percent over the interval, the memory available for new work, and the\n"
                       "available and total swap, in MiB. Samples every MS milliseconds (default\n"
                       "1000), N times (default: until interrupted).\n",
                       Run};
KVOS_COMMAND(kCommand);

long long MiB(long long bytes) { return bytes / (1024 * 1024); }

int Run(Args const& args) {
  Sampling sampling;
  Args rest;
  if (!ParseSampling(kCommand, args, 0, sampling, rest)) return kBadUsage;
  if (!rest.empty()) return UsageError(kCommand, "unexpected argument '" + rest[0] + "'");

  Korvane::cKV_Error err;
  int const mask = iKV_SysLoadMon::eCpuLoad | iKV_SysLoadMon::eRamAvail | iKV_SysLoadMon::eSwapAvail |
                   iKV_SysLoadMon::eSwapMax;
  iKV_SysLoadMon* monitor = iKV_SysLoadMon::Create(&err, mask);
  if (monitor == nullptr) return Failure(kCommand, static_cast<char const*>(err.GetText()));
  std::printf("%4s %14s %15s %15s\n", "cpu%", "mem-avail-MiB", "swap-avail-MiB", "swap-total-MiB");
  std::fflush(stdout);
  int status = kOk;
  for (long long i = 0; sampling.count == 0 || i < sampling.count; ++i) {
    Korvane::osSleep(static_cast<unsigned int>(sampling.intervalMs));
    if (!monitor->Collect(&err)) {
      status = Failure(kCommand, static_cast<char const*>(err.GetText()));
      break;
    }
    std::printf("%4d %14lld %15lld %15lld\n", monitor->GetCpuLoad(nullptr), MiB(monitor->GetRamAvail(nullptr)),
                MiB(monitor->GetSwapAvail(nullptr)), MiB(monitor->GetSwapMax(nullptr)));
    std::fflush(stdout);
  }
  delete monitor;
  return status;
}

}  // namespace
}  // namespace kvos
