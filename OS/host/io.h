// Host file, directory and console operations. Failures return -1 (or null,
// or false, or the invalid handle) with the host's last error set.
#ifndef KV_OS_HOST_IO_H
#define KV_OS_HOST_IO_H

#include <cstddef>

namespace Korvane::host {

// ---- Files ----

// A file as the host knows it; it is the value of the API's file handle.
// The invalid handle, all bits set, is never a file.
using FileHandle = void*;
inline FileHandle InvalidFile() noexcept { return reinterpret_cast<FileHandle>(~static_cast<unsigned long long>(0)); }

// How a file is opened: the access wanted, the access that others may have
// meanwhile, and whether a missing file is made.
struct FileAccess {
  bool read;
  bool write;
  bool create;      // make a missing file, cut an existing one to length 0
  bool shareRead;   // others may read meanwhile
  bool shareWrite;  // others may write meanwhile
};
// Opens without waiting for the other end of a FIFO, never inherited by
// children; directories are refused. A handle with neither read nor write
// access takes no part in sharing. An open that conflicts with the sharing
// of a handle already open fails with the error of kind ErrorKind::kBusy
// and leaves an existing file as it was: it is cut only once the open has
// been granted.
FileHandle FileOpen(char const* path, FileAccess const& access) noexcept;
void FileClose(FileHandle file) noexcept;
// One transfer each; interrupted calls are restarted.
long long FileRead(FileHandle file, void* buffer, std::size_t size) noexcept;
long long FileWrite(FileHandle file, void const* data, std::size_t size) noexcept;
bool FileSync(FileHandle file) noexcept;
enum SeekOrigin { kSeekSet, kSeekEnd, kSeekCur };
long long FileSeek(FileHandle file, long long offset, SeekOrigin origin) noexcept;

// Line read-ahead: whether `file` has positions, so that bytes read past a
// line end can be given back by seeking. The host may remember the answer
// for the handles it opened itself; FileForgetReadAhead drops it (a handle
// replaced unseen by its owner).
bool FileCanReadAhead(FileHandle file) noexcept;
void FileForgetReadAhead(FileHandle file) noexcept;

// ---- Names ----

// The separator that paths are written with on this host (both '/' and '\\'
// are recognised everywhere).
char PathSeparator() noexcept;

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
FileHandle OpenHostFile(char const* path) noexcept;

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
