#include <cerrno>
#include <cstdio>
#include <cstring>

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

int StreamSeek(std::FILE* stream, long long position) noexcept {
  if (int e = Fault("stream.seek")) {
    errno = e;
    return -1;
  }
  return fseeko(stream, static_cast<off_t>(position), SEEK_SET);
}

long long StreamTell(std::FILE* stream) noexcept { return static_cast<long long>(ftello(stream)); }

bool StreamEof(std::FILE* stream) noexcept { return std::feof(stream) != 0; }

}  // namespace Korvane::host
