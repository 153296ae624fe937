// Host operations of the log: its append-only file and a cheap stamp of the
// local time zone.
#ifndef KV_OS_HOST_LOG_H
#define KV_OS_HOST_LOG_H

#include <cstddef>
#include <cstring>

#include "OS/host/io.h"

namespace Korvane::host {

// Opens `path` for appending only, never inherited by programs started,
// creating it when missing, and open to other writers and readers (and, where
// the host has it, to renaming and deleting) meanwhile; a FIFO is not waited
// for. The invalid handle with the host's last error when it cannot.
FileHandle LogOpen(char const* path) noexcept;
// Whether the file behind `file`, opened from `path`, is a regular file
// whose last byte is not a line end: a record written to it earlier was cut
// short. False when that cannot be read; the last error is kept.
bool LogEndsMidLine(FileHandle file, char const* path) noexcept;
// Appends `size` bytes with as few writes as the host allows: one, unless
// the host takes less (then the rest follows while writes make progress).
// The bytes written, or -1 (the host's last error) when the first write
// fails.
long long LogAppend(FileHandle file, void const* data, std::size_t size) noexcept;
// Closes the file; the last error is kept.
void LogClose(FileHandle file) noexcept;

// The lock of a C library stream (FILE*), held across the writes of one
// record so that other writers of the stream cannot cut into it.
void StreamLock(void* stream) noexcept;
void StreamUnlock(void* stream) noexcept;

// What the C library knows of the local zone, read again now: its names and
// standard offset. Equal stamps mean that the zone was not switched in
// between (a switch keeping both names and the offset is not seen).
struct ZoneStamp {
  // Copies: a C library may keep the names in buffers that it rewrites in
  // place. Longer names are cut, which only blurs two zones of long names.
  char names[2][16];
  long offset;
  int daylight;

  void SetNames(char const* standard, char const* summer) noexcept {
    char const* from[2] = {standard, summer};
    for (int i = 0; i < 2; ++i) {
      std::size_t n = from[i] != nullptr ? std::strlen(from[i]) : 0;
      if (n >= sizeof names[i]) n = sizeof names[i] - 1;
      std::memcpy(names[i], from[i] != nullptr ? from[i] : "", n);
      std::memset(names[i] + n, 0, sizeof names[i] - n);
    }
  }
  bool operator==(ZoneStamp const& other) const {
    return std::memcmp(names, other.names, sizeof names) == 0 && offset == other.offset &&
           daylight == other.daylight;
  }
};
ZoneStamp CurrentZone() noexcept;

}  // namespace Korvane::host

#endif
