#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "OS/host/fault.h"
#include "OS/host/stream.h"
#include "OS/windows/fault.h"
#include "OS/windows/crtfile.h"

namespace Korvane::host {

namespace {
bool Failed(char const* point) {
  if (!win::Injected(point)) return false;
  errno = EIO;
  return true;
}
}  // namespace

std::FILE* StreamOpen(char const* path, char const* mode) noexcept {
  if (Failed("stream.open")) return nullptr;
  return win::OpenCrtFile(path, mode);
}

int StreamClose(std::FILE* stream) noexcept {
  int e = Fault("stream.close");
  int result = std::fclose(stream);  // released even when a failure is injected
  if (e != 0) {
    ::SetLastError(static_cast<DWORD>(e));
    return EOF;
  }
  return result;
}

std::size_t StreamRead(std::FILE* stream, void* bytes, std::size_t count) noexcept {
  if (Failed("stream.read")) return 0;
  return std::fread(bytes, 1, count, stream);
}

std::size_t StreamWrite(std::FILE* stream, void const* bytes, std::size_t count) noexcept {
  if (Failed("stream.write")) return 0;
  return std::fwrite(bytes, 1, count, stream);
}

int StreamGetc(std::FILE* stream) noexcept {
  if (Failed("stream.read")) return EOF;
  return std::getc(stream);
}

void StreamUngetc(std::FILE* stream, int byte) noexcept { std::ungetc(byte, stream); }

int StreamFlush(std::FILE* stream) noexcept {
  if (Failed("stream.flush")) return EOF;
  return std::fflush(stream);
}

int StreamSeek(std::FILE* stream, long long position) noexcept {
  if (Failed("stream.seek")) return -1;
  if (::_fseeki64(stream, position, SEEK_SET) != 0) return -1;
  // A seek clears the end flag; not every runtime of this host does (Wine's
  // keeps it when the seek lands at the end). With no error flag to keep,
  // clearerr clears exactly that.
  if (std::feof(stream) && !std::ferror(stream)) std::clearerr(stream);
  return 0;
}

long long StreamTell(std::FILE* stream) noexcept { return ::_ftelli64(stream); }

bool StreamEof(std::FILE* stream) noexcept { return std::feof(stream) != 0; }

}  // namespace Korvane::host
