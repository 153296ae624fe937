#include <fcntl.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "OS/host/fault.h"
#include "OS/host/sysinfo.h"

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

}  // namespace

bool SelfCpuTimeNs(unsigned long long& ns) noexcept {
  if (int e = Fault("sysinfo.proctime")) {
    errno = e;
    return false;
  }
  return ClockNs(CLOCK_PROCESS_CPUTIME_ID, ns);
}

bool SelfPageFaults(unsigned long long& minor, unsigned long long& major) noexcept {
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

bool OpenProcessClock(int pid, int& clock) noexcept {
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

bool ReadProcessClockNs(int clock, unsigned long long& ns) noexcept {
  if (int e = Fault("sysinfo.proctime")) {
    errno = e;
    return false;
  }
  return ClockNs(static_cast<clockid_t>(clock), ns);
}

bool BootClockNs(unsigned long long& ns) noexcept {
  if (int e = Fault("sysinfo.clock")) {
    errno = e;
    return false;
  }
  return ClockNs(CLOCK_BOOTTIME, ns);
}

long PageSize() noexcept {
  long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? size : 4096;
}

}  // namespace Korvane::host
