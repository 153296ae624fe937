/// \file
/// Files and paths: raw file handles and line reading, path strings,
/// directories, file times, file search and console keys.
#ifndef KV_OS_OSIO_H
#define KV_OS_OSIO_H

#include <cstdint>

#include "OS/osbase.h"
#include "OS/oserror.h"
#include "OS/osstring.h"

namespace Korvane {

/// \name File handles
/// A file handle is the file descriptor carried in the void*; the invalid
/// handle (osInvalidFileHandle()) has all bits set. Handle values that
/// cannot be descriptors fail like a closed descriptor. Every descriptor is
/// opened close-on-exec.
///
/// Open mode bits: 1 read access, 2 write access, 4 create (make the file, or
/// cut an existing one to length 0; without it the file must exist). A handle
/// with neither access bit is opened for reading.
/// Share mode bits: 0x100 others may read, 0x200 others may write.
///
/// Share modes are kept between handles of this library, in one process and
/// across processes, with open-file-description record locks on a small area
/// at the far end of the offset range (beyond any real file data). An open
/// fails with errno EBUSY when it asks for an access that an open handle does
/// not share, or withholds a share that an open handle's access needs; the
/// file is then left as it was (the create bit truncates only after the check).
/// A handle with neither access bit takes no part in this.
/// Programs that do not use this library neither see nor honour these locks:
/// they may open, read, write, truncate or delete the file at any time, and
/// their opens never fail because of ours. Only a program that holds a record
/// lock over that area (a POSIX or OFD lock of the whole file with length 0)
/// makes our opens of the file fail as a share conflict. Deleting or renaming
/// an open file is not guarded. On file systems without record locks, share
/// modes are not enforced.
///
/// Opening never waits for the other end of a FIFO (a FIFO opened only for
/// writing without a reader fails with ENXIO), and directories are refused
/// with EISDIR.
///
/// Handle functions report only by result; errno holds the reason.
/// @{

/// \return the invalid file handle: all bits set.
inline void* osInvalidFileHandle() { return reinterpret_cast<void*>(~std::uintptr_t{0}); }

/// The origin of osFileSeek.
enum eKV_FileSeek {
  /// From the start of the file.
  eFileSeekBegin = 0,
  /// From the end of the file.
  eFileSeekEnd = 1,
  /// From the current position.
  eFileSeekCurrent = 2,
};

/// Opens a file.
/// \param path the file.
/// \param openMode 1 read, 2 write, 4 create (or cut to length 0), or'ed.
/// \param shareMode 0x100 others may read, 0x200 others may write, or'ed.
/// \return the handle, or the invalid handle on failure (errno tells why;
///   EBUSY for a share conflict).
KV_OS_API void* osFileOpen(char const* path, int openMode, int shareMode);
/// Closes a file handle.
/// \param file the handle; set to the invalid handle.
/// \return false for the invalid handle; otherwise true, whatever the close
///   itself said.
KV_OS_API bool osFileClose(void*& file);
/// One read; a short read is not retried.
/// \param file the handle.
/// \param buffer where the bytes go.
/// \param size the most bytes to read.
/// \param read gets the bytes read; 0 at end of file.
/// \return whether the read succeeded (true at end of file).
KV_OS_API bool osFileRead(void* file, unsigned char* buffer, unsigned int size, unsigned int& read);
/// One write; a partial write is not continued.
/// \param file the handle.
/// \param data the bytes.
/// \param size the number of bytes.
/// \param written gets the bytes written.
/// \return whether the write succeeded.
KV_OS_API bool osFileWrite(void* file, unsigned char const* data, unsigned int size, unsigned int& written);
/// Hands what was written to the storage device.
/// \param file the handle.
/// \return whether the flush succeeded.
KV_OS_API bool osFlushFileBuffers(void* file);
/// Moves the position.
/// \param file the handle.
/// \param distance the signed distance from the origin.
/// \param origin where to count from; values other than the three count
///   from the start.
/// \return the new position from the start of the file, or -1.
KV_OS_API long long osFileSeek(void* file, long long distance, eKV_FileSeek origin);
/// \param file the handle.
/// \return the position from the start of the file, or -1.
KV_OS_API long long osFileTell(void* file);
/// \param file the handle.
/// \return the size in bytes, or -1; the position is unchanged on success.
KV_OS_API long long osFileSize(void* file);
/// Reads one line ending in LF or NUL. The text drops the end and a CR
/// before an LF. Nothing is kept between calls, so line reads mix freely
/// with other operations on the handle. A descriptor that cannot seek
/// (pipe, terminal) cannot be put back: there every scanned byte is
/// consumed and the line is read again behind it, so lines come out
/// incomplete; read those with osFileRead.
/// \param file the handle.
/// \param line gets the line; untouched on failure, except after a read
///   failing halfway through a long line, which leaves it empty.
/// \param limit the most bytes the line may take with its end; 0 means
///   65535.
/// \return true with the position right behind the line end; false (no end
///   within the limit, end of file first, a failed read, no memory) with
///   the position back at the line's start.
KV_OS_API bool osFileReadLine(void* file, cKV_String& line, unsigned int limit);
/// Reads a file as text, opening it with read access and no sharing (so it
/// fails while another handle of this library holds the file). A file that
/// the host does not size (most of /proc, pipes) or sizes as 0 is read to
/// its end, and one that ends before its given size (/sys) gives what it
/// holds; either is cut at the cap like any other.
/// \param err gets code 3 from ".\osio" on failure; may be null.
/// \param path the file.
/// \param text gets the text.
/// \param maxSize the most bytes to read; 4294967295 reads at most
///   4294967294.
/// \return whether the text was read.
KV_OS_API bool osReadFileTxt(cKV_Error* err, char const* path, cKV_String& text, unsigned int maxSize);
/// @}

/// \name Path strings
/// Both '/' and backslash separate directories wherever a path is taken
/// apart; the separator written is '/'. A null path counts as an empty one.
/// These are text operations, except osConvertToUnc, which asks the host.
/// @{

/// \param path the path.
/// \return the text after the last separator; the whole path when that is
///   empty (no separator, or the path ends in one).
KV_OS_API cKV_String osExtractFilename(char const* path);
/// \param path the path.
/// \return the path up to and including the last separator; empty when
///   there is none.
KV_OS_API cKV_String osExtractFilepath(char const* path);
/// \param path the path.
/// \return the extension without its dot; empty when there is no dot after
///   the last separator.
KV_OS_API cKV_String osExtractFileExt(char const* path);
/// Replaces the extension: cuts the path at the last dot after the last
/// separator (if any) and appends "." and `ext`.
/// \param path the path, changed in place.
/// \param ext the new extension, without its dot.
KV_OS_API void osChangeFileExt(cKV_String& path, char const* ext);
/// Turns every backslash into '/'.
/// \param path the path, changed in place.
KV_OS_API void osEnsureCorrectDirSlash(cKV_String& path);
/// Appends '/' unless the text is empty or already ends in a separator.
/// \param path the path, changed in place.
KV_OS_API void osEnsureTrailingSlash(cKV_String& path);
/// Removes one final separator, if there is one.
/// \param path the path, changed in place.
KV_OS_API void osEnsureNoTrailingSlash(cKV_String& path);
/// \param path the path.
/// \return whether it begins with two separators not followed by '?'.
KV_OS_API bool osIsUncPath(char const* path);
/// Splits a network path into server and path on the server. A path of the
/// form `\\server\share...` is split as text (only backslashes are accepted
/// there). Any other path is made absolute (against the current directory,
/// "." and ".." resolved as text) and looked up in the mount table of the
/// calling process: on a CIFS mount (//server/share) or an NFS mount
/// (server:/export) the results are the server and the path on the server
/// without a leading separator, written with '/' (share/dir/file,
/// export/dir/file).
/// \param err gets code 3 from ".\osio", "Failed to convert [%s] to UNC
///   path: Invalid path" for two separators other than backslashes; may be
///   null.
/// \param path the path.
/// \param server gets the server; written only on success.
/// \param serverPath gets the path on the server; written only on success.
/// \return whether the path is a network path; false without a report for
///   a local path.
KV_OS_API bool osConvertToUnc(cKV_Error* err, char const* path, cKV_String& server, cKV_String& serverPath);
/// Resolves a substituted drive. Linux has none: the path is left as it is.
/// \param path the path.
KV_OS_API void osMakeLocalPath(cKV_String& path);
/// Whether a text is a uni path: a first part without separators, the bar
/// '|', and a second part that may hold anything (a text without a bar is
/// a first part alone).
/// \param path the text.
/// \return false when a separator comes before the first bar (or, without
///   a bar, anywhere); true for an empty text.
KV_OS_API bool osIsUniPath(char const* path);
/// Makes a uni path.
/// \param first the first part, taken unchanged.
/// \param second the second part.
/// \param uniPath gets first, '|' and second.
KV_OS_API void osEncodeUniPath(char const* first, char const* second, cKV_String& uniPath);
/// Splits a uni path at its first bar.
/// \param uniPath the text.
/// \param first gets the text before the bar (all of it without a bar).
/// \param second gets the text after the bar; empty without one.
/// \return false, with both untouched, when a separator comes before the
///   bar.
KV_OS_API bool osDecodeUniPath(char const* uniPath, cKV_String& first, cKV_String& second);
/// @}

/// \name Directories, attributes and search
/// Failures are reported with code 3 from ".\osio".
/// @{

/// \param path the name.
/// \return whether the name exists (a dangling symbolic link exists too).
KV_OS_API bool osFileIsExist(char const* path);
/// \param path the name.
/// \return whether the path is a directory, following symbolic links.
KV_OS_API bool osIsDirectory(char const* path);
/// Deletes one file.
/// \param err gets "Failed to delete file [%s]. %s"; may be null.
/// \param path the file.
/// \return whether it was deleted.
KV_OS_API bool osDeleteFile(cKV_Error* err, char const* path);
/// Creates a directory. A successful call may leave the report of a first
/// failed attempt in the record: judge by the result.
/// \param err gets "Directory with empty name can not be created", "Failed
///   to create directory %s. %s" or "Failed to create directory %s"; may be
///   null.
/// \param path the directory.
/// \param parents whether to create every missing parent too, as mkdir -p
///   makes them ("." and ".." steps included; those made stay when a deeper
///   level fails). A backslash separates as '/' does.
/// \return true when the directory exists afterwards.
KV_OS_API bool osCreateDirectory(cKV_Error* err, char const* path, bool parents);
/// Deletes a directory with everything that can go, and reports one line
/// per item that could not ("file [%s] %s" or "dir [%s] %s"), in the order
/// met; a directory that stays only because something in it stayed gets no
/// line. Symbolic links are deleted, never followed, also when `path`
/// itself is one. A path that names a file deletes that file.
/// \param err gets the lines as one message; may be null.
/// \param path the directory.
/// \param recursive whether to delete subdirectories with their contents;
///   without it only empty subdirectories go.
/// \return whether everything was deleted.
KV_OS_API bool osDeleteDirectory(cKV_Error* err, char const* path, bool recursive);
/// The modification time of a file.
/// \param err gets "File not found:%s"; may be null.
/// \param path the file.
/// \param time gets seconds since 1970 UTC; untouched on failure.
/// \return false also for times outside the 32-bit unsigned range.
KV_OS_API bool osGetFileTime(cKV_Error* err, char const* path, unsigned int& time);
/// Sets both the access and the modification time of a file.
/// \param err gets "File not found:%s"; may be null.
/// \param path the file.
/// \param time seconds since 1970 UTC.
/// \return whether the times were set.
KV_OS_API bool osSetFileTime(cKV_Error* err, char const* path, unsigned int time);

/// Enumerates a directory for a mask and gives the first matching name.
/// The mask is the last component of dir + '/' + mask: '*' matches any run
/// of characters, '?' any one, a final ".*" also matches nothing (so "*.*"
/// matches every name, "a.*" matches "a"), and letters match without regard
/// to case. "." and ".." are returned like any other name; only bare names
/// are given.
/// \param dir the directory.
/// \param mask the pattern.
/// \param name gets the first name; untouched when nothing matches.
/// \return the handle, to be closed with osFileFindEnd; null when nothing
///   matches or the directory cannot be read.
KV_OS_API void* osFileFindFirst(char const* dir, char const* mask, cKV_String& name);
/// \param find the handle of osFileFindFirst.
/// \param name gets the next matching name.
/// \return false for a null handle or when no name is left.
KV_OS_API bool osFileFindNext(void* find, cKV_String& name);
/// Ends an enumeration.
/// \param find the handle; null is ignored, otherwise it is set to null.
KV_OS_API void osFileFindEnd(void*& find);

/// The directory for an application's log files, from the ';'-separated
/// list of candidates in the environment variable WDIR: "Logs" under the
/// first candidate that is a directory, written "DIR/Logs" without a
/// trailing '/'. When none is, the first candidate alone is created (without
/// parents) and chosen if that succeeds. Otherwise, and without WDIR, the
/// folder "TLQ_Logs/" in osGetTemp(), with a trailing '/'. The "Logs" and
/// "TLQ_Logs" folders themselves are not created.
/// A candidate runs from its first character to the next ';' after it, so
/// none is empty: a ';' that follows another (or leads the value) belongs to
/// the candidate after it; a ';' at the very end ends the list. Both
/// separators count in a candidate; the result is written with '/'.
/// \return the directory.
KV_OS_API cKV_String osGetLogDir();

/// Waits for one key on standard input. On a terminal (in the foreground)
/// the key is taken without waiting for Enter and the terminal echoes it if
/// its echo is on; the terminal's modes are restored before returning. On a
/// pipe or file the next byte is taken. Not for two threads at once.
/// \param ms the most milliseconds to wait; 0 returns at once.
/// \param key gets the key; CR and LF both come as LF.
/// \return whether a key came.
KV_OS_API bool osWaitForConsoleInput(unsigned int ms, char& key);
/// @}

/// Two 32-bit words for the caller's use (no operation sets or reads them)
/// and a name.
class KV_OS_API cKV_FileInfo {
 public:
  /// An empty name; the words are not set.
  cKV_FileInfo();
  /// A copy of all three fields.
  /// \param other the record copied.
  cKV_FileInfo(cKV_FileInfo const& other);
  /// Copies all three fields.
  /// \param other the record copied.
  /// \return this record.
  cKV_FileInfo& operator=(cKV_FileInfo const& other);
  /// Releases the name.
  ~cKV_FileInfo();

  /// The caller's first word.
  unsigned int data1;
  /// The caller's second word.
  unsigned int data2;
  /// A file name.
  cKV_String name;
};

/// The name or path of a folder.
class KV_OS_API cKV_FolderInfo {
 public:
  /// An empty name.
  cKV_FolderInfo();
  /// A copy of the name.
  /// \param other the record copied.
  cKV_FolderInfo(cKV_FolderInfo const& other);
  /// Copies the name.
  /// \param other the record copied.
  /// \return this record.
  cKV_FolderInfo& operator=(cKV_FolderInfo const& other);
  /// Releases the name.
  ~cKV_FolderInfo();

  /// The folder's name or path.
  cKV_String name;
};

}  // namespace Korvane

#endif
