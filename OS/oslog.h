/// \file
/// cKV_Log: the leveled, thread-safe log that applications write to.
#ifndef KV_OS_OSLOG_H
#define KV_OS_OSLOG_H

#include "OS/osbase.h"
#include "OS/oserror.h"
#include "OS/osstring.h"

namespace Korvane {

/// A log over a file that it opens itself, over a stream (FILE*) of the
/// caller, or over standard output when it has neither. Each record is
///
/// \verbatim
/// Sat Mar 07 14:05:09 2009
///  [1A4] LEVEL:2 FILE:main[42]
///  MSG:connected
/// (empty line)
/// \endverbatim
///
/// with the local time, the kernel id of the writing thread in upper-case
/// hexadecimal, the level and source position in decimal. A record is
/// written when its level is at most the output level (2 at first).
///
/// Threads: any thread may write at any time; records are written whole
/// under the log's lock, in the order of their time texts. Only deleting a
/// log while another thread still writes to it is not allowed.
///
/// A log over its own file (a path):
/// - appends through a descriptor of its own opened close-on-exec, so
///   programs that the application starts do not inherit it;
/// - composes each record in full and hands it to the kernel in one write
///   before Log returns (nothing waits in a buffer of the process, so a crash
///   right after Log loses nothing). On a regular file of a local file system
///   the kernel appends one write as one piece, whatever its length, so
///   records never interleave with those of other threads, other logs over
///   the same file or other processes. Only where the kernel takes a write
///   in part (a full disk, a quota, a file size limit, or a record of 2 GiB
///   and more) does the rest follow in further writes, which records of
///   other processes may then precede. Pipes and FIFOs keep only records of
///   up to 4 KiB whole; network file systems shared between machines make no
///   promise for appends at all.
/// - write failures are not reported: a record that cannot be written is
///   lost, and the next one is tried again. Every record starts on a line of
///   its own: after a write that was cut inside a line, and on a file that
///   already ends inside one when the log opens it, the next record starts
///   with a line end. When memory for a record longer than the log's buffer
///   cannot be obtained, the record is written with
///   its message cut to what the buffer holds.
/// - a file deleted or renamed while the log is open keeps receiving the
///   records (the log does not reopen it).
/// A log over the caller's stream writes to it with the C library's stream
/// calls, holding the stream's own lock for the whole record, and flushes
/// it after each record; it never closes the stream. The log over standard
/// output writes the same way and does not flush.
///
/// Copies: the copy constructor and assignment give a log that shares the
/// source's lock, file and stream; the output level is copied and then set
/// separately for each copy. The shared part is counted: the last of the
/// copies to be deleted closes the file and destroys the lock, so nothing is
/// released twice and no copy is left with a released lock.
class KV_OS_API cKV_Log {
 public:
  /// A log appending to a file.
  /// \param err gets code 7 ".\oslog" "Failed to allocate %d bytes" when
  ///   the log (its object, its copy of the path, its lock) cannot be
  ///   allocated; may be null.
  /// \param path the file, created when missing. A null or empty path, or a
  ///   file that cannot be opened, gives a log over standard output (not an
  ///   error).
  /// \return the log (release with delete), or null.
  static cKV_Log* Create(cKV_Error* err, char const* path);
  /// A log writing to the caller's stream.
  /// \param err gets code 7 ".\oslog" when the log cannot be allocated;
  ///   may be null.
  /// \param stream a FILE* that the caller keeps and closes; null gives a
  ///   log over standard output.
  /// \return the log (release with delete), or null.
  static cKV_Log* Create(cKV_Error* err, void* stream);
  /// A log appending to the file baseDir/subDir/prefix_name_suffix.log. The
  /// directory is created with its missing parents; a backslash in baseDir
  /// and subDir counts as a separator and is written '/'.
  /// \param err gets what creating the directory reports (as
  ///   osCreateDirectory does, so a log made after missing parents were
  ///   created may come with the note of a first failed attempt), or code 7
  ///   when the log cannot be allocated; may be null.
  /// \param baseDir the base directory, such as osGetLogDir() gives.
  /// \param subDir the subdirectory.
  /// \param prefix the first part of the file name; null or empty leaves it
  ///   and its '_' out.
  /// \param name the middle part of the file name.
  /// \param suffix the last part of the file name; null or empty leaves it
  ///   and its '_' out.
  /// \return the log (release with delete); null when the directory does
  ///   not exist afterwards or the log cannot be allocated.
  static cKV_Log* Create(cKV_Error* err, char const* baseDir, char const* subDir, char const* prefix,
                         char const* name, char const* suffix);

  /// Writes one record with a printf-style message, when `level` is at most
  /// the output level. Messages have no length limit and are written as
  /// formatted (line feeds and any other bytes included).
  /// \param log the log; null does nothing.
  /// \param level the record's level.
  /// \param file the source file named in the record; null prints as
  ///   "unknown".
  /// \param line the source line named in the record.
  /// \param format the printf format of the message.
  static void Log(cKV_Log* log, int level, char const* file, int line, char const* format, ...)
      KV_OS_PRINTF(5, 6);
  /// Log with an argument list that the caller started.
  /// \param log the log; null does nothing.
  /// \param level the record's level.
  /// \param file the source file named in the record; null prints as
  ///   "unknown".
  /// \param line the source line named in the record.
  /// \param format the printf format of the message.
  /// \param args the arguments.
  static void LogV(cKV_Log* log, int level, char const* file, int line, char const* format, va_list args)
      KV_OS_PRINTF(5, 0);
  /// Writes one record of an error: its unit in place of the file, its line
  /// and its message text.
  /// \param log the log; null does nothing.
  /// \param level the record's level.
  /// \param error the error record.
  static void Log(cKV_Log* log, int level, cKV_Error const& error);
  /// Whether a record of a level would be written now, so that costly
  /// messages are formatted only when needed.
  /// \param log the log.
  /// \param level the level.
  /// \return whether `level` is at most the output level; false for a null
  ///   log.
  static bool IsLog(cKV_Log* log, int level);

  /// Sets which records are written from now on.
  /// \param level the highest level written.
  void SetOutputLevel(int level);
  /// \return the highest level written (2 at first).
  int GetOutputLevel();

  /// Releases the log; the last of its copies closes the file and destroys
  /// the lock. No other thread may still write to it.
  virtual ~cKV_Log();
  /// A log sharing the other's lock, file and stream, with its output level.
  /// \param other the log copied.
  cKV_Log(cKV_Log const& other);
  /// Shares the other's lock, file and stream and takes its output level,
  /// releasing what this log held.
  /// \param other the log copied.
  /// \return this log.
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
