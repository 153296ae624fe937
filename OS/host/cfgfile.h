// Buffered text files for the configuration reader and writer.
#ifndef KV_OS_HOST_CFGFILE_H
#define KV_OS_HOST_CFGFILE_H

namespace Korvane::host {

struct CfgStream;

// Opens an existing file for reading, bytes as they are, close-on-exec. A
// directory is refused (EISDIR). Null with errno set on failure.
CfgStream* CfgOpenRead(char const* path) noexcept;
// Creates or truncates a file for writing, bytes as given, close-on-exec.
CfgStream* CfgOpenWrite(char const* path) noexcept;
// Reads the next line into `buf`: at most cap - 1 bytes, the line feed
// included when it fits, NUL-terminated. 1 when a line was read, 0 at the
// end of the file, -1 on a read error (errno set).
int CfgReadLine(CfgStream* stream, char* buf, int cap) noexcept;
// Writes the NUL-terminated `text`: 0, or -1 with errno on failure.
int CfgWrite(CfgStream* stream, char const* text) noexcept;
// Flushes and closes; the stream is gone either way. 0, or -1 with errno.
int CfgClose(CfgStream* stream) noexcept;

}  // namespace Korvane::host

#endif
