// Files and paths: raw file handles and line reading, path strings,
// directories, file times, file search and console keys.
#ifndef KV_OS_OSIO_H
#define KV_OS_OSIO_H

#include <cstdint>

#include "OS/osbase.h"
#include "OS/oserror.h"
#include "OS/osstring.h"

namespace Korvane {

// ---- File handles ----
//
// A file handle is the file descriptor carried in the void*; the invalid
// handle has all bits set. Handle values that cannot be descriptors fail like
// a closed descriptor. Every descriptor is opened close-on-exec.
//
// Open mode bits: 1 read access, 2 write access, 4 create (make the file, or
// cut an existing one to length 0; without it the file must exist). A handle
// with neither access bit is opened for reading.
// Share mode bits: 0x100 others may read, 0x200 others may write.
//
// Share modes are kept between handles of this library, in one process and
// across processes, with open-file-description record locks on a small area
// at the far end of the offset range (beyond any real file data). An open
// fails with errno EBUSY when it asks for an access that an open handle does
// not share, or withholds a share that an open handle's access needs; the
// file is then left as it was (the create bit truncates only after the check).
// A handle with neither access bit takes no part in this.
// Programs that do not use this library neither see nor honour these locks:
// they may open, read, write, truncate or delete the file at any time, and
// their opens never fail because of ours. Only a program that holds a record
// lock over that area (a POSIX or OFD lock of the whole file with length 0)
// makes our opens of the file fail as a share conflict. Deleting or renaming
// an open file is not guarded. On file systems without record locks, share
// modes are not enforced.
//
// Opening never waits for the other end of a FIFO (a FIFO opened only for
// writing without a reader fails with ENXIO), and directories are refused
// with EISDIR.
//
// Handle functions report only by result; errno holds the reason.

inline void* osInvalidFileHandle() { return reinterpret_cast<void*>(~std::uintptr_t{0}); }

enum eKV_FileSeek {
  eFileSeekBegin = 0,
  eFileSeekEnd = 1,
  eFileSeekCurrent = 2,
};

KV_OS_API void* osFileOpen(char const* path, int openMode, int shareMode);
// False for the invalid handle; otherwise closes, sets `file` to the invalid
// handle and returns true whatever the close itself said.
KV_OS_API bool osFileClose(void*& file);
// One read; at end of file true with a count of 0. Short reads are not
// retried.
KV_OS_API bool osFileRead(void* file, unsigned char* buffer, unsigned int size, unsigned int& read);
// One write; a partial write is not continued.
KV_OS_API bool osFileWrite(void* file, unsigned char const* data, unsigned int size, unsigned int& written);
KV_OS_API bool osFlushFileBuffers(void* file);
// The new position from the start of the file, or -1. Origins other than
// the three above count from the start.
KV_OS_API long long osFileSeek(void* file, long long distance, eKV_FileSeek origin);
KV_OS_API long long osFileTell(void* file);
// The size in bytes, or -1; the position is unchanged on success.
KV_OS_API long long osFileSize(void* file);
// Reads one line ending in LF or NUL; `limit` (0 meaning 65535) is the most
// bytes the line may take with its end. The text drops the end and a CR
// before an LF. On success the position is right behind the line end; on
// failure (no end within the limit, end of file first, a failed read, no
// memory) it is back at the line's start and `line` is untouched, except
// after a read failing halfway through a long line, which leaves it empty.
// Nothing is kept between calls, so line reads mix freely with other
// operations on the handle. A descriptor that cannot seek (pipe, terminal)
// cannot be put back: there every scanned byte is consumed and the line is
// read again behind it, so lines come out incomplete; read those with
// osFileRead.
KV_OS_API bool osFileReadLine(void* file, cKV_String& line, unsigned int limit);
// Reads at most `maxSize` bytes of the file as text, opening it with read
// access and no sharing (so it fails while another handle of this library
// holds the file). A cap of 4294967295 reads at most 4294967294 bytes. A file
// that the host does not size (most of /proc, pipes) or sizes as 0 is read to
// its end, and one that ends before its given size (/sys) gives what it
// holds; either is cut at the cap like any other. Reports code 3 from
// ".\osio".
KV_OS_API bool osReadFileTxt(cKV_Error* err, char const* path, cKV_String& text, unsigned int maxSize);

// ---- Path strings ----
//
// Both '/' and '\' separate directories wherever a path is taken apart; the
// separator written is '/'. A null path counts as an empty one.

KV_OS_API cKV_String osExtractFilename(char const* path);
KV_OS_API cKV_String osExtractFilepath(char const* path);
KV_OS_API cKV_String osExtractFileExt(char const* path);
KV_OS_API void osChangeFileExt(cKV_String& path, char const* ext);
// Turns every '\' into '/'.
KV_OS_API void osEnsureCorrectDirSlash(cKV_String& path);
// Appends '/' unless the text is empty or already ends in a separator.
KV_OS_API void osEnsureTrailingSlash(cKV_String& path);
KV_OS_API void osEnsureNoTrailingSlash(cKV_String& path);
// Two separators not followed by '?'.
KV_OS_API bool osIsUncPath(char const* path);
// A path of the form \\server\share... is split into the server and the rest
// as text (only backslashes are accepted there). Any other path is made
// absolute (against the current directory, "." and ".." resolved as text) and
// looked up in the mount table of the calling process: on a CIFS mount
// (//server/share) or an NFS mount (server:/export) the results are the
// server and the path on the server without a leading separator, written
// with '/' (share/dir/file, export/dir/file). Local paths return false without
// a report. Results are written only on success.
KV_OS_API bool osConvertToUnc(cKV_Error* err, char const* path, cKV_String& server, cKV_String& serverPath);
// Linux has no substituted drives: the path is left as it is.
KV_OS_API void osMakeLocalPath(cKV_String& path);
KV_OS_API bool osIsUniPath(char const* path);
KV_OS_API void osEncodeUniPath(char const* first, char const* second, cKV_String& uniPath);
KV_OS_API bool osDecodeUniPath(char const* uniPath, cKV_String& first, cKV_String& second);

// ---- Directories, attributes and search ----

// Whether the name exists (a dangling symbolic link exists too).
KV_OS_API bool osFileIsExist(char const* path);
// Whether the path is a directory, following symbolic links.
KV_OS_API bool osIsDirectory(char const* path);
KV_OS_API bool osDeleteFile(cKV_Error* err, char const* path);
// With `parents` also every missing parent, as mkdir -p makes them ("." and
// ".." steps included); a successful call may leave the report of a first
// failed attempt in the record (judge by the result). '\' separates as '/'
// does.
KV_OS_API bool osCreateDirectory(cKV_Error* err, char const* path, bool parents);
// Deletes everything that can go and reports one line per item that could
// not, in the order met. Symbolic links are deleted, never followed, also
// when `path` itself is one.
KV_OS_API bool osDeleteDirectory(cKV_Error* err, char const* path, bool recursive);
// Modification time in seconds since 1970 UTC; times outside the 32-bit
// unsigned range are reported as failures.
KV_OS_API bool osGetFileTime(cKV_Error* err, char const* path, unsigned int& time);
KV_OS_API bool osSetFileTime(cKV_Error* err, char const* path, unsigned int time);

// Enumerates `dir` for `mask` and gives the first matching name; null when
// nothing matches or the directory cannot be read. The mask is the last
// component of dir + '/' + mask: '*' matches any run of characters, '?' any
// one, a final ".*" also matches nothing (so "*.*" matches every name, "a.*"
// matches "a"), and letters match without regard to case. "." and ".." are
// returned like any other name. The handle must be closed with
// osFileFindEnd.
KV_OS_API void* osFileFindFirst(char const* dir, char const* mask, cKV_String& name);
KV_OS_API bool osFileFindNext(void* find, cKV_String& name);
KV_OS_API void osFileFindEnd(void*& find);

// The directory for an application's log files, from the ';'-separated
// list of candidates in the environment variable WDIR: "Logs" under the
// first candidate that is a directory, written "DIR/Logs" without a
// trailing '/'. When none is, the first candidate alone is created (without
// parents) and chosen if that succeeds. Otherwise, and without WDIR, the
// folder "TLQ_Logs/" in osGetTemp(), with a trailing '/'. The "Logs" and
// "TLQ_Logs" folders themselves are not created.
// A candidate runs from its first character to the next ';' after it, so
// none is empty: a ';' that follows another (or leads the value) belongs to
// the candidate after it; a ';' at the very end ends the list. Both '\' and
// '/' in a candidate count as separators; the result is written with '/'.
KV_OS_API cKV_String osGetLogDir();

// Waits up to `ms` milliseconds for one key on standard input. On a terminal
// (in the foreground) the key is taken without waiting for Enter and the
// terminal echoes it if its echo is on; the terminal's modes are restored
// before returning. On a pipe or file the next byte is taken. CR and LF both
// come as LF. Not for two threads at once.
KV_OS_API bool osWaitForConsoleInput(unsigned int ms, char& key);

// Two 32-bit words for the caller's use (no operation sets or reads them)
// and a name.
class KV_OS_API cKV_FileInfo {
 public:
  cKV_FileInfo();
  cKV_FileInfo(cKV_FileInfo const& other);
  cKV_FileInfo& operator=(cKV_FileInfo const& other);
  ~cKV_FileInfo();

  unsigned int data1;
  unsigned int data2;
  cKV_String name;
};

// The name or path of a folder.
class KV_OS_API cKV_FolderInfo {
 public:
  cKV_FolderInfo();
  cKV_FolderInfo(cKV_FolderInfo const& other);
  cKV_FolderInfo& operator=(cKV_FolderInfo const& other);
  ~cKV_FolderInfo();

  cKV_String name;
};

}  // namespace Korvane

#endif
