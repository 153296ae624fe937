#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "OS/host/fault.h"
#include "OS/host/log.h"

namespace Korvane::host {

int LogOpen(char const* path) noexcept {
  if (int e = Fault("log.open")) {
    errno = e;
    return -1;
  }
  // O_NONBLOCK only for the open itself: a FIFO must not wait for a reader.
  int fd;
  do {
    fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  int status = fcntl(fd, F_GETFL);
  if (status >= 0) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return fd;
}

long long LogAppend(int fd, void const* data, std::size_t size) noexcept {
  if (int e = Fault("log.write")) {
    errno = e;
    return -1;
  }
  auto const* bytes = static_cast<char const*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done == 0 ? -1 : static_cast<long long>(done);
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

void LogClose(int fd) noexcept {
  int saved = errno;
  close(fd);
  errno = saved;
}

void StreamLock(void* stream) noexcept { flockfile(static_cast<FILE*>(stream)); }

void StreamUnlock(void* stream) noexcept { funlockfile(static_cast<FILE*>(stream)); }

ZoneStamp CurrentZone() noexcept {
  // Written by tzset() only; an application that switches zones on one
  // thread while logging on another races with the C library's own readers
  // just the same.
  return ZoneStamp{{tzname[0], tzname[1]}, timezone, daylight};
}

}  // namespace Korvane::host
