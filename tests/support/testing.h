// Helpers shared by the test suites.
#ifndef KV_TESTS_SUPPORT_TESTING_H
#define KV_TESTS_SUPPORT_TESTING_H

#include <filesystem>
#include <string>
#include <vector>

#include "OS/host/fault.h"

namespace kvtest {

// Arms a fault point for the lifetime of the scope.
class ScopedFault {
 public:
  explicit ScopedFault(char const* point, int error, unsigned skip = 0, unsigned count = 1, bool anyThread = false)
      : _point(point) {
    Korvane::host::FaultArm(point, error, skip, count, anyThread);
  }
  ~ScopedFault() { Korvane::host::FaultDisarm(_point.c_str()); }
  ScopedFault(ScopedFault const&) = delete;
  ScopedFault& operator=(ScopedFault const&) = delete;
  unsigned Failures() const { return Korvane::host::FaultFailures(_point.c_str()); }

 private:
  std::string _point;
};

// Redirects the host description files into a directory of recorded copies
// for the lifetime of the scope.
class ScopedRecordedRoot {
 public:
  explicit ScopedRecordedRoot(std::string const& dir) { Korvane::host::SetRecordedRoot(dir.c_str()); }
  ~ScopedRecordedRoot() { Korvane::host::SetRecordedRoot(nullptr); }
  ScopedRecordedRoot(ScopedRecordedRoot const&) = delete;
  ScopedRecordedRoot& operator=(ScopedRecordedRoot const&) = delete;
};

// A fresh directory under the temporary directory, removed with everything
// in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(TempDir const&) = delete;
  TempDir& operator=(TempDir const&) = delete;
  std::string const& Path() const { return _path; }
  // Path of `name` inside the directory.
  std::string operator/(std::string const& name) const { return _path + "/" + name; }

 private:
  std::string _path;
};

std::string ReadFile(std::string const& path);
// A UTF-8 name as a std::filesystem path on every host.
std::filesystem::path U8Path(std::string const& name);
void WriteFile(std::string const& path, std::string const& content);

struct RunResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs a program with the given arguments (argv[0] included), feeding
// `input` on its standard input, and collects its output.
RunResult Run(std::vector<std::string> const& argv, std::string const& input = "");

// Sets (or, with null, removes) an environment variable of the process.
void SetEnv(char const* name, char const* value);

// ---- What differs between the hosts ----

// `text` with each line feed as a text-mode file on this host ends a line.
std::string HostLines(std::string const& text);

// The host's numbers for the failures that tests look for.
enum class Err {
  kNotFound,
  kPathNotFound,
  kBusy,
  kExists,
  kNotEmpty,
  kNoSpace,
  kAccess,
  kIsDir,
  kNameTooLong,
  kInvalidArgument,
  kNotSeekable
};
int HostError(Err kind);

// The separator that the host writes in paths.
char HostSeparator();

// A device that refuses every write as full, or empty where the host has
// none (tests then make the disk full through the seam).
std::string FullDevice();

// An anonymous pipe as two of the library's file handles.
bool MakePipe(void*& readEnd, void*& writeEnd);
void ClosePipeEnd(void* end);
bool WritePipe(void* writeEnd, std::string const& bytes);

// `path` opened for reading by the host directly, not by the library, as
// one of the library's file handles.
void* OpenOwn(std::string const& path);

// The identity of the file that `path` names (its device and number), or
// empty: equal while the file is changed in place, new once it is replaced.
std::string FileId(std::string const& path);

// Whether this process has `path` open (a descriptor or handle on it).
bool IsOpenHere(std::string const& path);

// The number of files (descriptors or handles) the process has open.
int OpenFileCount();
// How many handles the host itself may open meanwhile for its own needs
// (Wine's thread pool and server, now and then): a leak of the library
// shows as more than this.
int HostHandleSlack();

// A symbolic link at `link` to `target`; false (with the reason in `why`)
// where this host or file system cannot make one.
bool MakeSymlink(std::string const& target, std::string const& link, std::string& why);

// Sets the modification time of `path` to `seconds` since 1970.
bool SetModTime(std::string const& path, long long seconds);

// The arguments of this process as UTF-8 words, argv[0] included (the C
// runtime's argv is in another code page on some hosts).
std::vector<std::string> ProgramArguments();

// The running test program's own file, to start it again as a child.
std::string ProgramPath();

// The host's own id of the calling thread, asked of the host directly.
unsigned int HostThreadId();

// The exit status that a program killed by the library with `exitCode`
// shows: that code where the host keeps one, else the kill signal's.
int KilledExitStatus(unsigned int exitCode);

// Runs the kvos tool with the given arguments.
RunResult RunKvos(std::vector<std::string> const& args, std::string const& input = "");

}  // namespace kvtest

#endif
