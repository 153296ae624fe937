#include <cerrno>
#include <cstdio>
#include <cstring>

#include <stdio_ext.h>

#include "OS/host/fault.h"
#include "OS/host/stream.h"

namespace Korvane::host {

std::FILE* StreamOpen(char const* path, char const* mode) noexcept {
  if (int e = Fault("stream.open")) {
    errno = e;
    return nullptr;
  }
  // glibc reads the mode's flags only from its first seven characters and
  // stops at ",ccs=", so the close-on-exec flag goes right after the access
  // letter rather than at the end.
  char withCloexec[64];
  std::size_t length = std::strlen(mode);
  if (length == 0 || length + 2 > sizeof withCloexec) {
    errno = EINVAL;
    return nullptr;
  }
  withCloexec[0] = mode[0];
  withCloexec[1] = 'e';
  std::memcpy(withCloexec + 2, mode + 1, length);  // the rest and the NUL
  return std::fopen(path, withCloexec);
}

int StreamClose(std::FILE* stream) noexcept {
  int e = Fault("stream.close");
  int result = std::fclose(stream);  // released even when a failure is injected
  if (e != 0) {
    errno = e;
    return EOF;
  }
  return result;
}

std::size_t StreamRead(std::FILE* stream, void* bytes, std::size_t count) noexcept {
  if (int e = Fault("stream.read")) {
    errno = e;
    return 0;
  }
  return std::fread(bytes, 1, count, stream);
}

std::size_t StreamWrite(std::FILE* stream, void const* bytes, std::size_t count) noexcept {
  if (int e = Fault("stream.write")) {
    errno = e;
    return 0;
  }
  return std::fwrite(bytes, 1, count, stream);
}

int StreamGetc(std::FILE* stream) noexcept {
  if (int e = Fault("stream.read")) {
    errno = e;
    return EOF;
  }
  return std::getc(stream);
}

void StreamUngetc(std::FILE* stream, int byte) noexcept { std::ungetc(byte, stream); }

int StreamFlush(std::FILE* stream) noexcept {
  if (int e = Fault("stream.flush")) {
    errno = e;
    return EOF;
  }
  return std::fflush(stream);
}

namespace {

// Flags of glibc's stream ABI (libio) that are not in the public header:
// reading from the ungetc backup area, and append mode.
constexpr int kInBackup = 0x100;
constexpr int kAppending = 0x1000;

// glibc makes an lseek on every ftell, and on every fseek even when it stays
// inside the read buffer; readers of delimited data ask for the position and
// give back a byte per field, which then costs two system calls each. While
// a stream only reads, its position follows from the buffer (whose layout is
// public: getc_unlocked works on it inline) and the file offset that glibc
// keeps for the buffer's end: exactly what ftell computes, and a seek inside
// the buffer moves the read pointer and clears the end flag, exactly what
// fseek does there. Anything else goes to ftello/fseeko.
bool ReadPosition(std::FILE* stream, long long& position) noexcept {
  if (__freading(stream) == 0 || stream->_mode > 0 || (stream->_flags & (kInBackup | kAppending)) != 0 ||
      stream->_IO_read_base == nullptr || stream->_IO_write_ptr > stream->_IO_write_base || stream->_offset < 0)
    return false;
  position = static_cast<long long>(stream->_offset) - (stream->_IO_read_end - stream->_IO_read_ptr);
  return true;
}

bool SeekInBuffer(std::FILE* stream, long long position) noexcept {
  long long here = 0;
  if (!ReadPosition(stream, here)) return false;
  if (position < here - (stream->_IO_read_ptr - stream->_IO_read_base) ||
      position > here + (stream->_IO_read_end - stream->_IO_read_ptr))
    return false;
  stream->_IO_read_ptr += position - here;
  stream->_flags &= ~_IO_EOF_SEEN;
  return true;
}

}  // namespace

int StreamSeek(std::FILE* stream, long long position) noexcept {
  if (int e = Fault("stream.seek")) {
    errno = e;
    return -1;
  }
  flockfile(stream);
  int result = SeekInBuffer(stream, position) ? 0 : fseeko(stream, static_cast<off_t>(position), SEEK_SET);
  funlockfile(stream);
  return result;
}

long long StreamTell(std::FILE* stream) noexcept {
  flockfile(stream);
  long long position = 0;
  if (!ReadPosition(stream, position)) position = static_cast<long long>(ftello(stream));
  funlockfile(stream);
  return position;
}

bool StreamEof(std::FILE* stream) noexcept { return std::feof(stream) != 0; }

}  // namespace Korvane::host
