// Host operations of the log: its append-only file and a cheap stamp of the
// local time zone.
#ifndef KV_OS_HOST_LOG_H
#define KV_OS_HOST_LOG_H

#include <cstddef>

namespace Korvane::host {

// Opens `path` for appending only, close-on-exec, creating it (mode 0666
// less the umask) when missing; a FIFO is not waited for. -1 with errno.
int LogOpen(char const* path) noexcept;
// Whether the file behind `fd`, opened from `path`, is a regular file whose
// last byte is not a line end: a record written to it earlier was cut short.
// False when that cannot be read.
bool LogEndsMidLine(int fd, char const* path) noexcept;
// Appends `size` bytes with as few writes as the host allows: one, unless
// the host takes less (then the rest follows while writes make progress).
// The bytes written, or -1 (errno) when the first write fails.
long long LogAppend(int fd, void const* data, std::size_t size) noexcept;
void LogClose(int fd) noexcept;

// The lock of a C library stream (FILE*), held across the writes of one
// record so that other writers of the stream cannot cut into it.
void StreamLock(void* stream) noexcept;
void StreamUnlock(void* stream) noexcept;

// What the C library knows of the local zone since the last tzset(): its
// names and standard offset. Equal stamps mean that the zone was not
// switched in between (a switch keeping both names and the offset is not
// seen).
struct ZoneStamp {
  char const* names[2];
  long offset;
  int daylight;

  bool operator==(ZoneStamp const& other) const {
    return names[0] == other.names[0] && names[1] == other.names[1] && offset == other.offset &&
           daylight == other.daylight;
  }
};
ZoneStamp CurrentZone() noexcept;

}  // namespace Korvane::host

#endif
