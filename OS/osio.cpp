// File handles, share modes, line and whole-text reading.
#include "OS/osio.h"

#include <climits>
#include <cstring>

#include "OS/host/error.h"
#include "OS/host/io.h"
#include "OS/host/memory.h"
#include "OS/internal/iotext.h"
#include "OS/internal/report.h"

namespace Korvane {

namespace {

constexpr char kUnit[] = ".\\osio";

bool IsInvalid(void* file) { return file == osInvalidFileHandle(); }

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
bool ReadLineBody(host::FileHandle fd, cKV_String& line, char* block, unsigned int count, long long start) {
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
bool ReadLineBySmallReads(host::FileHandle fd, cKV_String& line, unsigned int budget) {
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
long long SeekBack(host::FileHandle fd, unsigned long long count) {
  return host::FileSeek(fd, -static_cast<long long>(count), host::kSeekCur);
}

}  // namespace

void* osFileOpen(char const* path, int openMode, int shareMode) {
  if (path == nullptr) {
    host::SetLastError(host::ErrorNumber(host::ErrorKind::kBadAddress));
    return osInvalidFileHandle();
  }
  host::FileAccess access{(openMode & 1) != 0, (openMode & 2) != 0, (openMode & 4) != 0,
                          (shareMode & 0x100) != 0, (shareMode & 0x200) != 0};
  return host::FileOpen(path, access);
}

bool osFileClose(void*& file) {
  if (IsInvalid(file)) return false;
  host::FileClose(file);
  file = osInvalidFileHandle();
  return true;
}

bool osFileRead(void* file, unsigned char* buffer, unsigned int size, unsigned int& read) {
  if (IsInvalid(file)) return false;
  long long n = host::FileRead(file, buffer, size);
  if (n < 0) return false;
  read = static_cast<unsigned int>(n);
  return true;
}

bool osFileWrite(void* file, unsigned char const* data, unsigned int size, unsigned int& written) {
  if (IsInvalid(file)) return false;
  long long n = host::FileWrite(file, data, size);
  if (n < 0) return false;
  written = static_cast<unsigned int>(n);
  return true;
}

bool osFlushFileBuffers(void* file) {
  if (IsInvalid(file)) return false;
  return host::FileSync(file);
}

long long osFileSeek(void* file, long long distance, eKV_FileSeek origin) {
  if (IsInvalid(file)) return -1;
  host::SeekOrigin from = origin == eFileSeekEnd       ? host::kSeekEnd
                          : origin == eFileSeekCurrent ? host::kSeekCur
                                                       : host::kSeekSet;
  long long position = host::FileSeek(file, distance, from);
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
// a short line. Only a file that can seek is read ahead; the host tells
// which can (and may remember it for the handles it opened).
bool osFileReadLine(void* file, cKV_String& line, unsigned int limit) {
  if (IsInvalid(file)) return false;
  host::FileHandle fd = file;
  unsigned int budget = limit == 0 ? kDefaultLineLimit : limit;
  if (!host::FileCanReadAhead(fd)) return ReadLineBySmallReads(fd, line, budget);

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
    if (SeekBack(fd, static_cast<unsigned long long>(got) - count) < 0) host::FileForgetReadAhead(fd);
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

namespace {

// Reads a file that the host does not size (most of /proc, pipes) or sizes
// as 0 (pseudo files and devices that still have content) in growing steps
// to its end, keeping at most `cap` bytes as for a sized file. `text` is
// touched only on success.
bool ReadToEnd(cKV_Error* err, host::FileHandle fd, char const* name, cKV_String& text, unsigned int cap) {
  constexpr unsigned int kFirstStep = 4096;
  unsigned int room = cap < kFirstStep ? cap : kFirstStep;
  char* block = host::NewChars(static_cast<std::size_t>(room) + 1);
  if (block == nullptr)
    return KV_REPORT(err, 3, kUnit, "Failed to alloc %d bytes of memory", static_cast<int>(room + 1));
  unsigned int done = 0;
  while (done < cap) {
    if (done == room) {
      unsigned int grown = room > cap - room ? cap : 2 * room;
      char* bigger = host::NewChars(static_cast<std::size_t>(grown) + 1);
      if (bigger == nullptr) {
        host::DeleteChars(block);
        return KV_REPORT(err, 3, kUnit, "Failed to alloc %d bytes of memory", static_cast<int>(grown + 1));
      }
      std::memcpy(bigger, block, done);
      host::DeleteChars(block);
      block = bigger;
      room = grown;
    }
    long long n = host::FileRead(fd, block + done, room - done);
    if (n < 0) {
      host::DeleteChars(block);
      return KV_REPORT(err, 3, kUnit, "Failed to read %d bytes from file [%s]", static_cast<int>(room - done), name);
    }
    if (n == 0) break;
    done += static_cast<unsigned int>(n);
  }
  char* target = internal::ReserveText(text, done > 0 ? done : 1);
  if (target != nullptr) {
    std::memcpy(target, block, done);
    target[done] = '\0';
  }
  host::DeleteChars(block);
  if (target == nullptr)
    return KV_REPORT(err, 3, kUnit, "Failed to alloc %d bytes of memory", static_cast<int>(done + 1));
  return true;
}

}  // namespace

bool osReadFileTxt(cKV_Error* err, char const* path, cKV_String& text, unsigned int maxSize) {
  char const* name = path != nullptr ? path : "";
  void* file = osFileOpen(path, 1, 0);
  if (IsInvalid(file)) return KV_REPORT(err, 3, kUnit, "Failed to open file [%s]", name);
  // count + 1 must fit the 32-bit size.
  unsigned int cap = maxSize == UINT_MAX ? UINT_MAX - 1 : maxSize;
  long long size = osFileSize(file);
  if (size < 0) {
    // These say that the file has no size, not that it failed.
    if (!host::LastErrorIs(host::ErrorKind::kInvalidArgument) && !host::LastErrorIs(host::ErrorKind::kNotSeekable)) {
      osFileClose(file);
      return KV_REPORT(err, 3, kUnit, "Failed to get size of file [%s]", name);
    }
  }
  if (size <= 0) {
    bool read = ReadToEnd(err, file, name, text, cap);
    osFileClose(file);
    return read;
  }
  unsigned int count = static_cast<unsigned long long>(size) > cap ? cap : static_cast<unsigned int>(size);
  // An empty text gets a block too, like any text read: the string then
  // holds just the NUL rather than no buffer.
  char* block = internal::ReserveText(text, count > 0 ? count : 1);
  if (block == nullptr) {
    osFileClose(file);
    return KV_REPORT(err, 3, kUnit, "Failed to alloc %d bytes of memory", static_cast<int>(count + 1));
  }
  // One request; more only where the host caps a single transfer, or where
  // the file ends before the size the host gave (files under /sys claim a
  // page): the text is then what the file holds.
  host::FileHandle fd = file;
  unsigned int done = 0;
  while (done < count) {
    long long n = host::FileRead(fd, block + done, count - done);
    if (n < 0) break;
    if (n == 0) count = done;
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
