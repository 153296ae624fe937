// Host operations behind the system description and the load monitors.
//
// Files that describe the host are opened through MapHostPath, so tests can
// put recorded copies in their place.
#ifndef KV_OS_HOST_SYSINFO_H
#define KV_OS_HOST_SYSINFO_H

#include <cstddef>

namespace Korvane::host {

// Opens a host description file for reading (close-on-exec); -1 with errno
// set when it cannot be opened.
int OpenSysFile(char const* path) noexcept;

// Reads the start of the file into `buf` with one read of at most cap - 1
// bytes, and terminates it with a NUL: all of a regular file that fits, the
// whole records of a /proc file that fit. Reading again re-reads the current
// content, so an open /proc file can be sampled without reopening it.
// Returns the number of bytes read, or -1 with errno set.
long ReadSysFile(int fd, char* buf, std::size_t cap) noexcept;

void CloseSysFile(int fd) noexcept;

// Open, read and close in one go; -1 with errno set on failure.
long ReadSysFileOnce(char const* path, char* buf, std::size_t cap) noexcept;

// The host's own count of online logical processors; 0 when unknown.
int OnlineProcessorCount() noexcept;

// The unit of the processor times in /proc (USER_HZ); 0 when unknown.
long ClockTicksPerSecond() noexcept;

// The kernel release and the machine's architecture name; false with errno
// set when the host does not tell them.
bool KernelIdentity(char* release, std::size_t releaseCap, char* machine, std::size_t machineCap) noexcept;

// The calling process's processor time (all its threads, living and
// ended) in nanoseconds.
bool SelfCpuTimeNs(unsigned long long& ns) noexcept;

// The page faults the calling process has taken, without and with I/O.
bool SelfPageFaults(unsigned long long& minor, unsigned long long& major) noexcept;

// The processor-time clock of another process; false with errno set (ESRCH)
// when there is no such process.
bool OpenProcessClock(int pid, int& clock) noexcept;
bool ReadProcessClockNs(int clock, unsigned long long& ns) noexcept;

// The host's clock since boot, suspended time included, in nanoseconds: the
// clock on which the kernel dates the start of processes.
bool BootClockNs(unsigned long long& ns) noexcept;

long PageSize() noexcept;

}  // namespace Korvane::host

#endif
