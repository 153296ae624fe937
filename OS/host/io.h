// Host file, directory and console operations. Failures return -1 (or null,
// or false) with the host error number in errno.
#ifndef KV_OS_HOST_IO_H
#define KV_OS_HOST_IO_H

#include <cstddef>

namespace Korvane::host {

// ---- Descriptors ----

// Opens close-on-exec without truncating and without waiting for the other
// end of a FIFO; `create` makes a missing file. Directories are refused.
int FileOpen(char const* path, bool read, bool write, bool create) noexcept;
void FileClose(int fd) noexcept;
// Whether FileOpen made `fd` and it was since noted to seek: such a
// descriptor may be read ahead and set back without first asking for its
// position. FileOpen and FileClose forget the note; a descriptor made
// elsewhere is never noted, as its owner may close and reuse it unseen.
bool FileKnownToSeek(int fd) noexcept;
void FileNoteSeeks(int fd, bool seeks) noexcept;
// One transfer each; interrupted calls are restarted.
long long FileRead(int fd, void* buffer, std::size_t size) noexcept;
long long FileWrite(int fd, void const* data, std::size_t size) noexcept;
bool FileSync(int fd) noexcept;
enum SeekOrigin { kSeekSet, kSeekEnd, kSeekCur };
long long FileSeek(int fd, long long offset, SeekOrigin origin) noexcept;
// Cuts the file to length 0, also through a descriptor without write access.
bool FileTruncate(int fd) noexcept;

// Record locks owned by the open file description. 1 taken, 0 held by
// another description, -1 error (errno; the file system may lack locks).
int FileLock(int fd, bool exclusive, long long start, long long length) noexcept;
// The start of a lock that another description holds in the range (any one
// of them), or -1 when there is none or no answer.
long long FileLockFind(int fd, long long start, long long length) noexcept;

// ---- Names ----

enum PathKind { kPathNone, kPathFile, kPathDir, kPathLink };
// The kind of the name itself (links not followed) or of what it leads to.
PathKind GetPathKind(char const* path, bool follow) noexcept;
bool RemoveFile(char const* path) noexcept;
bool MakeDir(char const* path) noexcept;
bool RemoveDir(char const* path) noexcept;
bool GetModTime(char const* path, long long& seconds) noexcept;
bool SetFileTimes(char const* path, long long seconds) noexcept;
// The current directory into `buffer`, or false.
bool CurrentDir(char* buffer, std::size_t cap) noexcept;
// Opens a host description file (mount table and the like) for reading,
// through MapHostPath.
int OpenHostFile(char const* path) noexcept;

// Directory enumeration; kind of an entry as the directory tells it, links
// not followed (kPathNone when it does not tell).
void* DirOpen(char const* path) noexcept;
// 1 an entry (name valid until the next call), 0 end, -1 error.
int DirRead(void* dir, char const*& name, PathKind& kind) noexcept;
void DirClose(void* dir) noexcept;

// ---- Console (standard input) ----

struct ConsoleState {
  alignas(8) unsigned char saved[128];
  bool terminal;
  bool changed;
};
// On a terminal in the foreground: key-at-a-time input, no read timeout.
void ConsoleBegin(ConsoleState& state) noexcept;
void ConsoleEnd(ConsoleState& state) noexcept;
// 1 a byte was taken, 0 nothing is waiting (or end of input), -1 error.
int ConsoleTryRead(ConsoleState& state, char& key) noexcept;

}  // namespace Korvane::host

#endif
