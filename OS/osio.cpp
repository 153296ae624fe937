// File handles, share modes, line and whole-text reading.
#include "OS/osio.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "OS/host/error.h"
#include "OS/host/io.h"
#include "OS/internal/iotext.h"
#include "OS/internal/report.h"

namespace Korvane {

namespace {

constexpr char kUnit[] = ".\\osio";

int ToFd(void* file) {
  auto value = reinterpret_cast<std::uintptr_t>(file);
  return value <= static_cast<std::uintptr_t>(INT_MAX) ? static_cast<int>(value) : -1;
}

void* ToHandle(int fd) { return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)); }

bool IsInvalid(void* file) { return file == osInvalidFileHandle(); }

// ---- Share modes ----
//
// Each combination of the roles that a handle plays (reading, writing,
// refusing others' reads, refusing others' writes) has a region of the lock
// area. A handle holds a lock in the region of its combination; an open
// conflicts when another description holds a lock in the region of a
// combination with a role opposite to one of its own. Locks are taken first
// and checked after, so of two racing conflicting opens at least one sees
// the other. A readable descriptor holds a shared lock on the region's first
// byte; a write-only one cannot take shared locks and holds an exclusive
// lock on a free byte after it. With no other handle open, an open takes one
// lock and asks one question.
constexpr long long kShareArea = 0x7FFFFFFF00000000LL;
constexpr long long kRegionSize = 0x10000;
constexpr int kSlots = 4096;

enum : unsigned { kReading = 1, kWriting = 2, kRefusingRead = 4, kRefusingWrite = 8, kCombinations = 16 };

unsigned Opposite(unsigned roles) { return (roles & 3) << 2 | (roles >> 2 & 3); }

long long RegionStart(unsigned roles) { return kShareArea + static_cast<long long>(roles) * kRegionSize; }

// 1 held, 0 conflict (no free byte), -1 the file system has no record locks.
int HoldRegion(int fd, bool readable, unsigned roles) {
  long long start = RegionStart(roles);
  if (readable) return host::FileLock(fd, false, start, 1);
  for (int slot = 1; slot <= kSlots; ++slot) {
    int taken = host::FileLock(fd, true, start + slot, 1);
    if (taken != 0) return taken;
  }
  return 0;
}

// Whether another description holds a region that conflicts with `roles`.
// A range of regions is asked at a time; a region found that does not
// conflict splits its range in two.
bool OthersConflict(int fd, unsigned roles) {
  struct Range {
    unsigned from, to;
  } pending[kCombinations];
  int count = 0;
  pending[count++] = {0, kCombinations};
  while (count > 0) {
    Range r = pending[--count];
    long long at = host::FileLockFind(fd, RegionStart(r.from), (r.to - r.from) * kRegionSize);
    if (at < 0) continue;
    // A foreign lock may start before the range: count it as its first region.
    unsigned found = at < RegionStart(r.from) ? r.from : static_cast<unsigned>((at - kShareArea) / kRegionSize);
    if (found >= r.to) found = r.to - 1;
    if ((roles & Opposite(found)) != 0) return true;
    if (r.from < found) pending[count++] = {r.from, found};
    if (found + 1 < r.to) pending[count++] = {found + 1, r.to};
  }
  return false;
}

// False when the open conflicts with a handle that is already open.
bool ClaimShareMode(int fd, int openMode, int shareMode) {
  // As on the original host, a handle without access takes no part.
  unsigned roles = static_cast<unsigned>(openMode) & (kReading | kWriting);
  if (roles == 0) return true;
  if ((shareMode & 0x100) == 0) roles |= kRefusingRead;
  if ((shareMode & 0x200) == 0) roles |= kRefusingWrite;
  int held = HoldRegion(fd, (roles & kReading) != 0, roles);
  if (held < 0) return true;  // no record locks here: nothing to enforce
  return held != 0 && !OthersConflict(fd, roles);
}

// ---- Lines ----

constexpr unsigned int kDefaultLineLimit = 65535;

bool IsLineEnd(unsigned char c) { return c == '\n' || c == '\0'; }

long long FindLineEnd(unsigned char const* bytes, long long count) {
  for (long long i = 0; i < count; ++i)
    if (IsLineEnd(bytes[i])) return i;
  return -1;
}

// Drops the line end (and a CR before an LF) from `count` bytes.
void EndLine(char* block, unsigned int count) {
  block[count] = '\0';
  if (block[count - 1] == '\n') {
    block[count - 1] = '\0';
    if (count >= 2 && block[count - 2] == '\r') block[count - 2] = '\0';
  }
}

// Reads `count` bytes from the current position into the line, as many
// reads as it takes. On failure the line is emptied and the position put
// back at `start` where that is known.
bool ReadLineBody(int fd, cKV_String& line, char* block, unsigned int count, long long start) {
  unsigned int done = 0;
  while (done < count) {
    long long n = host::FileRead(fd, block + done, count - done);
    if (n <= 0) {
      line = "";
      if (start >= 0) host::FileSeek(fd, start, host::kSeekSet);
      return false;
    }
    done += static_cast<unsigned int>(n);
  }
  EndLine(block, count);
  return true;
}

// For descriptors whose position cannot be taken: scan in reads of at most
// 4 bytes, then read the line in one piece. As the position cannot be set
// back either, the scanned bytes stay consumed.
bool ReadLineBySmallReads(int fd, cKV_String& line, unsigned int budget) {
  unsigned long long scanned = 0;
  unsigned int count = 0;
  for (;;) {
    unsigned char small[4];
    long long got = host::FileRead(fd, small, budget < 4 ? budget : 4);
    if (got < 0) return false;
    long long end = FindLineEnd(small, got);
    if (end >= 0) {
      count = static_cast<unsigned int>(scanned + static_cast<unsigned long long>(end) + 1);
      break;
    }
    budget -= static_cast<unsigned int>(got);
    scanned += static_cast<unsigned long long>(got);
    if (budget == 0 || got == 0) return false;
  }
  char* block = internal::ReserveText(line, count);
  if (block == nullptr) return false;
  return ReadLineBody(fd, line, block, count, -1);
}

// Puts the position back by `count` bytes read ahead; the new position.
long long SeekBack(int fd, unsigned long long count) {
  return host::FileSeek(fd, -static_cast<long long>(count), host::kSeekCur);
}

}  // namespace

void* osFileOpen(char const* path, int openMode, int shareMode) {
  if (path == nullptr) {
    host::SetLastError(EFAULT);
    return osInvalidFileHandle();
  }
  bool create = (openMode & 4) != 0;
  int fd = host::FileOpen(path, (openMode & 1) != 0, (openMode & 2) != 0, create);
  if (fd < 0) return osInvalidFileHandle();
  if (!ClaimShareMode(fd, openMode, shareMode)) {
    host::FileClose(fd);
    host::SetLastError(EBUSY);
    return osInvalidFileHandle();
  }
  // Cut only now, so that a refused open leaves the file as it was.
  if (create && !host::FileTruncate(fd)) {
    host::FileClose(fd);
    return osInvalidFileHandle();
  }
  return ToHandle(fd);
}

bool osFileClose(void*& file) {
  if (IsInvalid(file)) return false;
  host::FileClose(ToFd(file));
  file = osInvalidFileHandle();
  return true;
}

bool osFileRead(void* file, unsigned char* buffer, unsigned int size, unsigned int& read) {
  if (IsInvalid(file)) return false;
  long long n = host::FileRead(ToFd(file), buffer, size);
  if (n < 0) return false;
  read = static_cast<unsigned int>(n);
  return true;
}

bool osFileWrite(void* file, unsigned char const* data, unsigned int size, unsigned int& written) {
  if (IsInvalid(file)) return false;
  long long n = host::FileWrite(ToFd(file), data, size);
  if (n < 0) return false;
  written = static_cast<unsigned int>(n);
  return true;
}

bool osFlushFileBuffers(void* file) {
  if (IsInvalid(file)) return false;
  return host::FileSync(ToFd(file));
}

long long osFileSeek(void* file, long long distance, eKV_FileSeek origin) {
  if (IsInvalid(file)) return -1;
  host::SeekOrigin from = origin == eFileSeekEnd       ? host::kSeekEnd
                          : origin == eFileSeekCurrent ? host::kSeekCur
                                                       : host::kSeekSet;
  long long position = host::FileSeek(ToFd(file), distance, from);
  return position < 0 ? -1 : position;
}

long long osFileTell(void* file) { return osFileSeek(file, 0, eFileSeekCurrent); }

long long osFileSize(void* file) {
  long long position = osFileTell(file);
  if (position < 0) return -1;
  long long size = osFileSeek(file, 0, eFileSeekEnd);
  if (size < 0) return -1;
  if (osFileSeek(file, position, eFileSeekBegin) < 0) return -1;
  return size;
}

// What stays observable of a scan in 4-byte reads followed by a re-read of
// the line: the same text, and the position right behind the line end (or
// unmoved on failure). Reading ahead and then setting the position back by
// the bytes read past the line end gives exactly that, in two host calls for
// a short line. Only a descriptor that can seek is read ahead; whether one
// can is asked once per handle that this library opened, and every time for
// a handle made elsewhere.
bool osFileReadLine(void* file, cKV_String& line, unsigned int limit) {
  if (IsInvalid(file)) return false;
  int fd = ToFd(file);
  unsigned int budget = limit == 0 ? kDefaultLineLimit : limit;
  if (!host::FileKnownToSeek(fd)) {
    if (host::FileSeek(fd, 0, host::kSeekCur) < 0) return ReadLineBySmallReads(fd, line, budget);
    host::FileNoteSeeks(fd, true);
  }

  // Most lines fit the first look.
  unsigned char first[512];
  unsigned int want = budget < sizeof first ? budget : static_cast<unsigned int>(sizeof first);
  long long got = host::FileRead(fd, first, want);
  if (got <= 0) return false;  // nothing was consumed
  long long end = FindLineEnd(first, got);
  if (end >= 0) {
    auto count = static_cast<unsigned int>(end + 1);
    char* block = internal::ReserveText(line, count);
    if (block == nullptr) {
      SeekBack(fd, static_cast<unsigned long long>(got));
      return false;
    }
    std::memcpy(block, first, count);
    EndLine(block, count);
    // Fails only on a descriptor that was replaced unseen: stop reading ahead.
    if (SeekBack(fd, static_cast<unsigned long long>(got) - count) < 0) host::FileNoteSeeks(fd, false);
    return true;
  }
  if (got < want || static_cast<unsigned long long>(got) >= budget) {
    SeekBack(fd, static_cast<unsigned long long>(got));
    return false;
  }

  // A long line: find its end, go back and read it straight into the string.
  unsigned long long scanned = static_cast<unsigned long long>(got);
  unsigned char chunk[16384];
  for (;;) {
    unsigned long long left = budget - scanned;
    std::size_t size = left < sizeof chunk ? static_cast<std::size_t>(left) : sizeof chunk;
    got = host::FileRead(fd, chunk, size);
    if (got <= 0) {
      SeekBack(fd, scanned);
      return false;
    }
    scanned += static_cast<unsigned long long>(got);
    end = FindLineEnd(chunk, got);
    if (end >= 0) break;
    if (scanned >= budget) {
      SeekBack(fd, scanned);
      return false;
    }
  }
  auto count = static_cast<unsigned int>(scanned - static_cast<unsigned long long>(got) +
                                         static_cast<unsigned long long>(end) + 1);
  long long start = SeekBack(fd, scanned);
  if (start < 0) return false;
  char* block = internal::ReserveText(line, count);
  if (block == nullptr) return false;
  return ReadLineBody(fd, line, block, count, start);
}

bool osReadFileTxt(cKV_Error* err, char const* path, cKV_String& text, unsigned int maxSize) {
  char const* name = path != nullptr ? path : "";
  void* file = osFileOpen(path, 1, 0);
  if (IsInvalid(file)) return KV_REPORT(err, 3, kUnit, "Failed to open file [%s]", name);
  long long size = osFileSize(file);
  if (size < 0) {
    osFileClose(file);
    return KV_REPORT(err, 3, kUnit, "Failed to get size of file [%s]", name);
  }
  // count + 1 must fit the 32-bit size.
  unsigned int cap = maxSize == UINT_MAX ? UINT_MAX - 1 : maxSize;
  unsigned int count = static_cast<unsigned long long>(size) > cap ? cap : static_cast<unsigned int>(size);
  // An empty text gets a block too, like any text read: the string then
  // holds just the NUL rather than no buffer.
  char* block = internal::ReserveText(text, count > 0 ? count : 1);
  if (block == nullptr) {
    osFileClose(file);
    return KV_REPORT(err, 3, kUnit, "Failed to alloc %d bytes of memory", static_cast<int>(count + 1));
  }
  // One request; more only where the host caps a single transfer.
  int fd = ToFd(file);
  unsigned int done = 0;
  while (done < count) {
    long long n = host::FileRead(fd, block + done, count - done);
    if (n <= 0) break;
    done += static_cast<unsigned int>(n);
  }
  osFileClose(file);
  if (done < count) {
    block[0] = '\0';
    return KV_REPORT(err, 3, kUnit, "Failed to read %d bytes from file [%s]", static_cast<int>(count), name);
  }
  block[count] = '\0';
  return true;
}

}  // namespace Korvane
