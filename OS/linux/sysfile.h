// Linux describes itself in files (/proc, /sys, /etc). They are opened
// through MapHostPath, so tests can put recorded copies in their place.
#ifndef KV_OS_LINUX_SYSFILE_H
#define KV_OS_LINUX_SYSFILE_H

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

}  // namespace Korvane::host

#endif
