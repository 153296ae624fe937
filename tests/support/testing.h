// Helpers shared by the test suites.
#ifndef KV_TESTS_SUPPORT_TESTING_H
#define KV_TESTS_SUPPORT_TESTING_H

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

// Runs the kvos tool with the given arguments.
RunResult RunKvos(std::vector<std::string> const& args, std::string const& input = "");

}  // namespace kvtest

#endif
