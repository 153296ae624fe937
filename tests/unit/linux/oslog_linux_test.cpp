// The log where only Linux can show it: descriptor flags, a zone switched
// within one second, a pipe that takes part of a record, a file size limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "OS/oslog.h"
#include "OS/ostime.h"
#include "support/testing.h"
#include "unit/oslog_records.h"

using Korvane::cKV_Log;
using kvtest::ReadFile;
using kvtest::Records;
using kvtest::TempDir;
using kvtest::Record;

namespace {

cKV_Log* Open(std::string const& path) { return cKV_Log::Create(nullptr, path.c_str()); }

// The descriptor of this process that is open on `path`, or -1.
int DescriptorOf(std::string const& path) {
  struct stat want, st;
  if (stat(path.c_str(), &want) != 0) return -1;
  for (int fd = 0; fd < 1024; ++fd)
    if (fstat(fd, &st) == 0 && st.st_dev == want.st_dev && st.st_ino == want.st_ino) return fd;
  return -1;
}

TEST(LogLinux, OwnFileAppendsAndIsNotInherited) {
  TempDir dir;
  std::string const path = dir / "own.log";
  cKV_Log* log = Open(path);
  int fd = DescriptorOf(path);
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(fcntl(fd, F_GETFL) & O_APPEND);
  EXPECT_FALSE(fcntl(fd, F_GETFL) & O_NONBLOCK);
  delete log;
  EXPECT_EQ(DescriptorOf(path), -1);
}

TEST(LogLinux, ATimeTextKeptForItsSecondDoesNotSurviveAZoneSwitch) {
  TempDir dir;
  std::string const path = dir / "zone.log";
  std::string utc, east, text;
  // Both records within one second, five hours apart in local time.
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::remove(path.c_str());
    cKV_Log* log = Open(path);
    setenv("TZ", "UTC0", 1);
    tzset();
    unsigned int second = Korvane::osGetSysTime();
    utc = static_cast<char const*>(Korvane::osGetLocalTimeStr());
    cKV_Log::Log(log, 0, "z", 1, "utc");
    setenv("TZ", "XXX-5", 1);
    tzset();
    east = static_cast<char const*>(Korvane::osGetLocalTimeStr());
    cKV_Log::Log(log, 0, "z", 2, "east");
    delete log;
    if (Korvane::osGetSysTime() == second) break;
  }
  unsetenv("TZ");
  tzset();
  ASSERT_EQ(utc.size(), 25u);
  EXPECT_NE(utc, east);
  std::vector<Record> records = Records(ReadFile(path));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].time + "\n", utc);
  EXPECT_EQ(records[1].time + "\n", east);
}

TEST(LogFailure, AStreamThatTookPartOfARecordGetsTheNextOnANewLine) {
  // A pipe that takes one page without waiting: the stream writes what fits
  // of a long record, drops the rest and says so.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_GE(fcntl(fds[1], F_SETPIPE_SZ, 4096), 4096);
  ASSERT_EQ(fcntl(fds[1], F_SETFL, O_NONBLOCK), 0);
  FILE* stream = fdopen(fds[1], "w");
  ASSERT_NE(stream, nullptr);
  cKV_Log* log = cKV_Log::Create(nullptr, static_cast<void*>(stream));
  auto drain = [&] {
    std::string got;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) got.append(buffer, static_cast<std::size_t>(n));
    return got;
  };
  ASSERT_EQ(fcntl(fds[0], F_SETFL, O_NONBLOCK), 0);
  cKV_Log::Log(log, 0, "f", 1, "%s", std::string(20000, 'p').c_str());
  std::string const torn = drain();
  ASSERT_TRUE(!torn.empty() && torn.size() < 20000 && torn.back() == 'p');
  cKV_Log::Log(log, 0, "f", 2, "two");
  cKV_Log::Log(log, 0, "f", 3, "three");
  std::string const text = drain();
  ASSERT_EQ(text.substr(0, 1), "\n");
  std::vector<Record> records = Records(text.substr(1));
  EXPECT_TRUE(records.size() == 2 && records[0].message == "two" && records[1].message == "three") << text;
  delete log;
  std::fclose(stream);
  close(fds[0]);
}

TEST(LogFailure, ASizeLimitCutsARecordAndTheNextStartsOnANewLine) {
  TempDir dir;
  std::string const path = dir / "limit.log";
  kvtest::WriteFile(path, std::string(1000, '#') + "\n");
  // In a child, so that the limit and the ignored signal stay there: the
  // host writes up to the limit and refuses the rest of the record.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    rlimit cut = limit;
    cut.rlim_cur = 1500;
    if (setrlimit(RLIMIT_FSIZE, &cut) != 0) _exit(3);
    cKV_Log* log = Open(path);
    cKV_Log::Log(log, 0, "f", 1, "%s", std::string(1000, 'm').c_str());
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(4);
    cKV_Log::Log(log, 0, "f", 2, "after the limit");
    delete log;
    _exit(0);
  }
  int status = 0;
  ASSERT_TRUE(waitpid(child, &status, 0) == child && WIFEXITED(status)) << status;
  ASSERT_EQ(WEXITSTATUS(status), 0);
  std::string const text = ReadFile(path);
  ASSERT_GT(text.size(), 1501u);
  EXPECT_EQ(text.substr(1499, 2), "m\n");  // the cut record, then a line end
  std::vector<Record> records = Records(text.substr(1501));
  EXPECT_TRUE(records.size() == 1 && records[0].message == "after the limit") << text.substr(1400);
}

}  // namespace
