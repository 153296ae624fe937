#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "OS/host/fault.h"
#include "OS/host/log.h"

namespace Korvane::host {

namespace {

// The descriptor travels in the handle, as the file functions carry it.
int ToFd(FileHandle file) {
  auto value = reinterpret_cast<std::uintptr_t>(file);
  return value <= static_cast<std::uintptr_t>(INT_MAX) ? static_cast<int>(value) : -1;
}

}  // namespace

FileHandle LogOpen(char const* path) noexcept {
  if (int e = Fault("log.open")) {
    errno = e;
    return InvalidFile();
  }
  // O_NONBLOCK only for the open itself: a FIFO must not wait for a reader.
  int fd;
  do {
    fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return InvalidFile();
  int status = fcntl(fd, F_GETFL);
  if (status >= 0) fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return reinterpret_cast<FileHandle>(static_cast<std::intptr_t>(fd));
}

bool LogEndsMidLine(FileHandle file, char const* path) noexcept {
  int saved = errno;
  int fd = ToFd(file);
  struct stat st, again;
  bool midLine = false;
  // The log's own descriptor may only append; the last byte is read through
  // a second one, if it still leads to the same file.
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    int reader;
    do {
      reader = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (reader < 0 && errno == EINTR);
    if (reader >= 0) {
      char last = '\n';
      if (fstat(reader, &again) == 0 && again.st_dev == st.st_dev && again.st_ino == st.st_ino &&
          pread(reader, &last, 1, again.st_size - 1) == 1)
        midLine = last != '\n';
      close(reader);
    }
  }
  errno = saved;
  return midLine;
}

long long LogAppend(FileHandle file, void const* data, std::size_t size) noexcept {
  int fd = ToFd(file);
  if (int e = Fault("log.write")) {
    errno = e;
    return -1;
  }
  auto const* bytes = static_cast<char const*>(data);
  std::size_t done = 0;
  // A write that the host cuts short, as a full disk or a file size limit
  // does: half of the bytes go, then the host refuses.
  if (int e = Fault("log.cut")) {
    std::size_t half = size / 2;
    while (done < half) {
      ssize_t n = write(fd, bytes + done, half - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    errno = e;
    return done == 0 ? -1 : static_cast<long long>(done);
  }
  while (done < size) {
    ssize_t n = write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done == 0 ? -1 : static_cast<long long>(done);
    done += static_cast<std::size_t>(n);
  }
  return static_cast<long long>(done);
}

void LogClose(FileHandle file) noexcept {
  int saved = errno;
  close(ToFd(file));
  errno = saved;
}

void StreamLock(void* stream) noexcept { flockfile(static_cast<FILE*>(stream)); }

void StreamUnlock(void* stream) noexcept { funlockfile(static_cast<FILE*>(stream)); }

ZoneStamp CurrentZone() noexcept {
  // Written by tzset() only; an application that switches zones on one
  // thread while logging on another races with the C library's own readers
  // just the same.
  ZoneStamp stamp;
  stamp.SetNames(tzname[0], tzname[1]);
  stamp.offset = timezone;
  stamp.daylight = daylight;
  return stamp;
}

}  // namespace Korvane::host
