// cKV_Log: the leveled, thread-safe log that applications write to.
#ifndef KV_OS_OSLOG_H
#define KV_OS_OSLOG_H

#include "OS/osbase.h"
#include "OS/oserror.h"
#include "OS/osstring.h"

namespace Korvane {

// A log over a file that it opens itself, over a stream (FILE*) of the
// caller, or over standard output when it has neither. Each record is
//
//   Sat Mar 07 14:05:09 2009
//    [1A4] LEVEL:2 FILE:main[42]
//    MSG:connected
//   (empty line)
//
// with the local time, the kernel id of the writing thread in upper-case
// hexadecimal, the level and source position in decimal. A record is
// written when its level is at most the output level (2 at first).
//
// Threads: any thread may write at any time; records are written whole
// under the log's lock, in the order of their time texts. Only deleting a
// log while another thread still writes to it is not allowed.
//
// A log over its own file (a path):
// - appends through a descriptor of its own opened close-on-exec, so
//   programs that the application starts do not inherit it;
// - composes each record in full and hands it to the kernel in one write
//   before Log returns (nothing waits in a buffer of the process, so a crash
//   right after Log loses nothing). On a regular file of a local file system
//   the kernel appends one write as one piece, whatever its length, so
//   records never interleave with those of other threads, other logs over
//   the same file or other processes. Only where the kernel takes a write
//   in part (a full disk, a quota, a file size limit, or a record of 2 GiB
//   and more) does the rest follow in further writes, which records of
//   other processes may then precede. Pipes and FIFOs keep only records of
//   up to 4 KiB whole; network file systems shared between machines make no
//   promise for appends at all.
// - write failures are not reported: a record that cannot be written is
//   lost, and the next one is tried again. Every record starts on a line of
//   its own: after a write that was cut inside a line, and on a file that
//   already ends inside one when the log opens it, the next record starts
//   with a line end. When memory for a record longer
//   than the log's buffer cannot be obtained, the record is written with
//   its message cut to what the buffer holds.
// - a file deleted or renamed while the log is open keeps receiving the
//   records (the log does not reopen it).
// A log over the caller's stream writes to it with the C library's stream
// calls, holding the stream's own lock for the whole record, and flushes
// it after each record; it never closes the stream. The log over standard
// output writes the same way and does not flush.
//
// Copies: the copy constructor and assignment give a log that shares the
// source's lock, file and stream; the output level is copied and then set
// separately for each copy. The shared part is counted: the last of the
// copies to be deleted closes the file and destroys the lock, so nothing is
// released twice and no copy is left with a released lock.
class KV_OS_API cKV_Log {
 public:
  // A log appending to the file at `path` (created when missing). A null or
  // empty path, or a file that cannot be opened, gives a log over standard
  // output (not an error). Null with code 7 ".\oslog" "Failed to allocate
  // %d bytes" when the log (its object, its copy of the path, its lock)
  // cannot be allocated.
  static cKV_Log* Create(cKV_Error* err, char const* path);
  // A log writing to `stream` (a FILE* the caller keeps and closes); a null
  // stream gives a log over standard output.
  static cKV_Log* Create(cKV_Error* err, void* stream);
  // The file baseDir/subDir/prefix_name_suffix.log; a null or empty prefix
  // or suffix leaves out its part and its '_'. The directory is created
  // with its missing parents; '\' in baseDir and subDir counts as a
  // separator and is written '/'. The directory's creation reports into
  // `err` as osCreateDirectory does, so a log made after missing parents
  // were created may come with the note of a first failed attempt; null
  // when the directory does not exist afterwards.
  static cKV_Log* Create(cKV_Error* err, char const* baseDir, char const* subDir, char const* prefix,
                         char const* name, char const* suffix);

  // Writes one record with a printf-style message. A null log does nothing;
  // a null file prints as "unknown". Messages have no length limit and are
  // written as formatted (line feeds and any other bytes included).
  static void Log(cKV_Log* log, int level, char const* file, int line, char const* format, ...)
      KV_OS_PRINTF(5, 6);
  static void LogV(cKV_Log* log, int level, char const* file, int line, char const* format, va_list args)
      KV_OS_PRINTF(5, 0);
  // One record with the error's unit in place of the file, its line and its
  // message text.
  static void Log(cKV_Log* log, int level, cKV_Error const& error);
  // Whether a record of `level` would be written now (false for a null log).
  static bool IsLog(cKV_Log* log, int level);

  void SetOutputLevel(int level);
  int GetOutputLevel();

  virtual ~cKV_Log();
  cKV_Log(cKV_Log const& other);
  cKV_Log& operator=(cKV_Log const& other);

 private:
  struct State;

  explicit cKV_Log(char const* path);
  explicit cKV_Log(void* stream);
  void Release();
  void Write(int level, char const* file, int line, char const* format, va_list args);
  void WriteFormat(int level, char const* file, int line, char const* format, ...);

  State* _state;  // lock, own file, record buffer and time cache; shared by copies
  cKV_String _fileName;
  void* _stream;  // the caller's FILE*, or null
  int _outputLevel;
};

}  // namespace Korvane

#endif
