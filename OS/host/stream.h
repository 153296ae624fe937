// Host operations on buffered C streams. Each passes a fault point
// "stream.<op>" (open, read, write, flush, seek, close).
#ifndef KV_OS_HOST_STREAM_H
#define KV_OS_HOST_STREAM_H

#include <cstddef>
#include <cstdio>

namespace Korvane::host {

// fopen, close-on-exec whatever the mode says. Null with errno on failure.
std::FILE* StreamOpen(char const* path, char const* mode) noexcept;
// fclose: 0, or EOF with errno. The stream is released either way.
int StreamClose(std::FILE* stream) noexcept;
// fread/fwrite of single bytes: the number of bytes moved.
std::size_t StreamRead(std::FILE* stream, void* bytes, std::size_t count) noexcept;
std::size_t StreamWrite(std::FILE* stream, void const* bytes, std::size_t count) noexcept;
// getc: the byte, or EOF at the end or on failure.
int StreamGetc(std::FILE* stream) noexcept;
// ungetc of the byte that StreamGetc just returned.
void StreamUngetc(std::FILE* stream, int byte) noexcept;
int StreamFlush(std::FILE* stream) noexcept;
// fseek from the start: 0, or -1 with errno.
int StreamSeek(std::FILE* stream, long long position) noexcept;
// ftell: the position, or -1.
long long StreamTell(std::FILE* stream) noexcept;
bool StreamEof(std::FILE* stream) noexcept;

}  // namespace Korvane::host

#endif
