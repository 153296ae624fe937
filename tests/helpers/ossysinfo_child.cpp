// A process for the process statistics tests: spins until it has used the
// processor time it is given, optionally samples itself, reports, and waits
// for its standard input to close.
//
//   ossysinfo_child SPIN_MS [--collect]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "OS/ossysinfo.h"

namespace {

long long CpuNs() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  long long spinNs = std::atoll(argv[1]) * 1000000LL;
  volatile unsigned long long sink = 0;
  while (CpuNs() < spinNs)
    for (int i = 0; i < 10000; ++i) sink = sink + static_cast<unsigned long long>(i);
  if (argc > 2 && std::strcmp(argv[2], "--collect") == 0) {
    Korvane::cKV_Error err;
    Korvane::iKV_ProcStatMon* mon = Korvane::iKV_ProcStatMon::Create(&err);
    if (mon == nullptr || !mon->Collect(&err)) {
      std::printf("error %s\n", static_cast<char const*>(err.GetText()));
      return 1;
    }
    std::printf("load %d cpu_ns %lld\n", mon->GetProcCpuLoad(nullptr), CpuNs());
    delete mon;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  char c;
  while (read(0, &c, 1) > 0) {
  }
  return 0;
}
