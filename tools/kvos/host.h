// What the tool needs of its host beyond the library: the process's own
// setup, reading files for the log reader, the standard streams of started
// programs, and the host's words for resolver and zone matters. One body
// per host (host_posix.cpp, host_windows.cpp); the commands stay the same.
#ifndef KVOS_HOST_H
#define KVOS_HOST_H

#include <cstdio>
#include <ctime>
#include <string>

#include "command.h"

namespace kvos::host {

// The command line as UTF-8 words, argv[0] included, with the standard
// streams set up to pass bytes unchanged (no line-end translation).
Args Start(int argc, char** argv);

// The size of the regular file `path`, or -1 when it is none.
long long RegularFileSize(std::string const& path);
// Whether this process may append to the existing file `path`.
bool MayAppend(std::string const& path);
// Reads up to `size` bytes of `path` from offset `from`; what could be read.
std::string ReadAt(std::string const& path, long long from, std::size_t size);
// Opens `path` for reading as bytes; null with the reason in `why`, also
// for a directory.
std::FILE* OpenForReading(std::string const& path, std::string& why);
// The next line of `in` with its line feed, if it has one; false at the end.
bool ReadLine(std::FILE* in, std::string& line);

// While it lives, programs that the tool starts get the null device as
// standard input, output and error; so does the tool itself, so nothing may
// be reported meanwhile.
class DetachedStdio {
 public:
  DetachedStdio();
  ~DetachedStdio();
  DetachedStdio(DetachedStdio const&) = delete;
  DetachedStdio& operator=(DetachedStdio const&) = delete;
  bool Ok() const { return _ok; }

 private:
  bool _ok = false;
  long long _saved[3] = {-1, -1, -1};
};
// The null device's name, for messages.
char const* NullDevice();

// Whether the last component of `path` reaches a device of the host in any
// directory (NUL, CON, COM1 and the like on Windows, with any extension).
bool NamesDevice(std::string const& path);

// The resolver's reason for its error number `code`, in getaddrinfo's words.
std::string ResolverReason(int code);

// The local calendar time of `t` as the library reckons it.
bool LocalTime(std::time_t t, std::tm& local);

// The local zone as the library sees it, for the time command; a TZ that
// the host cannot use is reported on standard error.
std::string ZoneLabel();

}  // namespace kvos::host

#endif
