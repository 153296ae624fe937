#include <fcntl.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>

#include "OS/host/fault.h"
#include "OS/host/sysinfo.h"
#include "OS/internal/sysinfo.h"
#include "OS/linux/sysfile.h"

namespace Korvane::host {

int OpenSysFile(char const* path) noexcept {
  if (int e = Fault("sysinfo.open")) {
    errno = e;
    return -1;
  }
  char mapped[1024];
  char const* real = MapHostPath(path, mapped, sizeof mapped);
  if (real == nullptr) {
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd;
  do fd = open(real, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  while (fd < 0 && errno == EINTR);
  return fd;
}

long ReadSysFile(int fd, char* buf, std::size_t cap) noexcept {
  if (cap == 0) {
    errno = EINVAL;
    return -1;
  }
  buf[0] = '\0';
  if (int e = Fault("sysinfo.read")) {
    errno = e;
    return -1;
  }
  // pread from offset 0 makes a /proc file generate its content afresh. One
  // read is enough: a regular file gives all that fits, a /proc file all the
  // whole records that fit, and the readers only need the start.
  ssize_t n;
  do n = pread(fd, buf, cap - 1, 0);
  while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  buf[n] = '\0';
  return static_cast<long>(n);
}

void CloseSysFile(int fd) noexcept {
  if (fd >= 0) close(fd);  // Linux releases the descriptor even on EINTR
}

long ReadSysFileOnce(char const* path, char* buf, std::size_t cap) noexcept {
  if (cap > 0) buf[0] = '\0';
  int fd = OpenSysFile(path);
  if (fd < 0) return -1;
  long n = ReadSysFile(fd, buf, cap);
  int saved = errno;
  CloseSysFile(fd);
  errno = saved;
  return n;
}

int OnlineProcessorCount() noexcept {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 && n <= 1 << 20 ? static_cast<int>(n) : 0;
}

long ClockTicksPerSecond() noexcept {
  long hz = sysconf(_SC_CLK_TCK);
  return hz > 0 ? hz : 0;
}

bool KernelIdentity(char* release, std::size_t releaseCap, char* machine, std::size_t machineCap) noexcept {
  if (int e = Fault("sysinfo.uname")) {
    errno = e;
    return false;
  }
  utsname u;
  if (uname(&u) != 0) return false;
  if (releaseCap > 0) {
    std::strncpy(release, u.release, releaseCap - 1);
    release[releaseCap - 1] = '\0';
  }
  if (machineCap > 0) {
    std::strncpy(machine, u.machine, machineCap - 1);
    machine[machineCap - 1] = '\0';
  }
  return true;
}

namespace {

bool ClockNs(clockid_t clock, unsigned long long& ns) {
  timespec t;
  if (clock_gettime(clock, &t) != 0) return false;
  ns = static_cast<unsigned long long>(t.tv_sec) * 1000000000ULL + static_cast<unsigned long long>(t.tv_nsec);
  return true;
}

bool SelfPageFaults(unsigned long long& minor, unsigned long long& major) {
  if (int e = Fault("sysinfo.rusage")) {
    errno = e;
    return false;
  }
  rusage u;
  if (getrusage(RUSAGE_SELF, &u) != 0) return false;
  minor = static_cast<unsigned long long>(u.ru_minflt);
  major = static_cast<unsigned long long>(u.ru_majflt);
  return true;
}

bool OpenProcessClock(int pid, int& clock) {
  if (int e = Fault("sysinfo.procopen")) {
    errno = e;
    return false;
  }
  // The clock id holds the pid in 29 bits, so a larger number would name
  // another clock (the caller's own, for some); no pid exceeds the kernel's
  // limit of 2^22 - 1.
  if (pid <= 0 || pid >= (1 << 22)) {
    errno = ESRCH;
    return false;
  }
  clockid_t id;
  int rc = clock_getcpuclockid(static_cast<pid_t>(pid), &id);
  if (rc != 0) {
    errno = rc;
    return false;
  }
  clock = static_cast<int>(id);
  return true;
}

bool ReadProcessClockNs(int clock, unsigned long long& ns) {
  if (int e = Fault("sysinfo.proctime")) {
    errno = e;
    return false;
  }
  return ClockNs(static_cast<clockid_t>(clock), ns);
}

long PageSize() {
  long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? size : 4096;
}

bool ResidentBytes(unsigned long long& bytes) {
  char statm[256];
  long n = ReadSysFileOnce("/proc/self/statm", statm, sizeof statm);
  if (n < 0) return false;
  unsigned long long pages;
  if (!sysinfo::ParseResidentPages(statm, pages)) {
    errno = EBADMSG;
    return false;
  }
  bytes = pages * static_cast<unsigned long long>(PageSize());
  return true;
}

// Reads an open host file, opening it first when it is not.
long Sample(int& fd, char const* path, char* buf, std::size_t cap) {
  if (fd < 0) {
    fd = OpenSysFile(path);
    if (fd < 0) return -1;
  }
  return ReadSysFile(fd, buf, cap);
}

}  // namespace

int HostFamily() noexcept { return 'L'; }

// A load monitor keeps /proc/stat and /proc/meminfo open between samples:
// both slots of the public object hold a descriptor.
bool SystemCpuTimes(int& keep, unsigned long long& total, unsigned long long& idle) noexcept {
  // The aggregate line comes first; the rest of the file is not needed.
  char stat[512];
  long hz = ClockTicksPerSecond();
  return Sample(keep, "/proc/stat", stat, sizeof stat) > 0 && sysinfo::ParseCpuTimes(stat, hz, total, idle);
}

bool SystemMemory(int& keep, sysinfo::MemFigures& figures) noexcept {
  char meminfo[4096];
  long n = Sample(keep, "/proc/meminfo", meminfo, sizeof meminfo);
  if (n > 0 && sysinfo::ParseMemInfo(meminfo, figures)) return true;
  // A file that reads but says nothing usable is a malformed reply.
  if (n >= 0) errno = EBADMSG;
  return false;
}

void ReleaseSample(int& keep) noexcept {
  CloseSysFile(keep);
  keep = -1;
}

bool SampleClock(unsigned long long& now) noexcept {
  if (int e = Fault("sysinfo.clock")) {
    errno = e;
    return false;
  }
  // The clock since boot, suspended time included: the kernel dates the
  // start of processes on it.
  unsigned long long ns;
  if (!ClockNs(CLOCK_BOOTTIME, ns)) return false;
  now = ns / 100;
  return true;
}

bool ProcessStartTime(unsigned long long& start) noexcept {
  char stat[1024];
  long n = ReadSysFileOnce("/proc/self/stat", stat, sizeof stat);
  if (n < 0) return false;
  unsigned long long ticks;
  long hz = ClockTicksPerSecond();
  if (hz <= 0 || !sysinfo::ParseProcessStart(stat, ticks)) {
    errno = EBADMSG;
    return false;
  }
  auto perSecond = static_cast<unsigned long long>(hz);
  start = ticks / perSecond * 10000000ULL + ticks % perSecond * 10000000ULL / perSecond;
  return true;
}

bool SelfCpuTimeNs(unsigned long long& ns) noexcept {
  if (int e = Fault("sysinfo.proctime")) {
    errno = e;
    return false;
  }
  return ClockNs(CLOCK_PROCESS_CPUTIME_ID, ns);
}

bool SelfMemory(unsigned int& faults, unsigned long long& workingSet) noexcept {
  unsigned long long minor, major;
  if (!SelfPageFaults(minor, major) || !ResidentBytes(workingSet)) return false;
  faults = static_cast<unsigned int>(minor + major);  // a 32-bit count, as the original host keeps it
  return true;
}

bool SelfWorkingSet(unsigned long long& bytes) noexcept { return ResidentBytes(bytes); }

int ProcessCpuTimeNs(unsigned int pid, unsigned long long& ns) noexcept {
  int clock;
  if (pid == 0 || pid > INT_MAX || !OpenProcessClock(static_cast<int>(pid), clock)) return -1;
  return ReadProcessClockNs(clock, ns) ? 1 : 0;
}

bool ProcessName(unsigned int pid, char* name, std::size_t cap) noexcept {
  if (pid == 0 || pid > INT_MAX || cap == 0) return false;
  // The id of a thread of another process opens that thread's files too: it
  // names a process only when it is its own thread group.
  char path[64];
  sysinfo::TextBuf p(path, sizeof path);
  p.Appendf("/proc/%u/status", pid);
  char status[512];
  unsigned long long group = 0;
  char const* end = nullptr;
  char const* value =
      ReadSysFileOnce(path, status, sizeof status) > 0 ? sysinfo::FindField(status, "Tgid", ':', &end) : nullptr;
  if (value == nullptr || !sysinfo::ParseUnsigned(value, end, group) || group != pid) return false;
  p.Clear();
  p.Appendf("/proc/%u/comm", pid);
  char comm[64];
  long n = ReadSysFileOnce(path, comm, sizeof comm);
  if (n <= 0 || comm[n - 1] != '\n') return false;
  comm[n - 1] = '\0';
  if (static_cast<std::size_t>(n) > cap) return false;
  std::memcpy(name, comm, static_cast<std::size_t>(n));
  return true;
}

}  // namespace Korvane::host
