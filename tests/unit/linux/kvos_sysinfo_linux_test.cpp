// kvos info and kvos proc against what Linux itself says.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "support/testing.h"

using kvtest::RunKvos;

namespace {

double CpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

TEST(KvosSysInfoLinux, InfoAgreesWithTheKernel) {
  auto r = RunKvos({"info"});
  ASSERT_EQ(r.status, 0) << r.err;
  utsname u{};
  uname(&u);
  unsigned long long ram = static_cast<unsigned long long>(sysconf(_SC_PHYS_PAGES)) *
                           static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
  for (std::string const& part : {std::string("Host type:        Linux\n"),
                                  "Processors:       " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + "\n",
                                  "Memory:           " + std::to_string(ram) + " bytes",
                                  std::string("kernel ") + u.release})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
}

TEST(KvosSysInfoLinux, ProcTimeOfThisProcessOnlyGrows) {
  double mine = CpuSeconds();
  auto r = RunKvos({"proc", std::to_string(getpid()), "--interval", "20", "--count", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string const line = r.out.substr(r.out.find('\n') + 1);
  int load = -1, h = -1, m = -1;
  double sec = -1;
  ASSERT_EQ(std::sscanf(line.c_str(), "%d %d:%d:%lf", &load, &h, &m, &sec), 4) << line;
  double seconds = h * 3600.0 + m * 60.0 + sec;
  EXPECT_TRUE(seconds >= mine - 0.01 && seconds <= CpuSeconds() + 0.01) << line << " after " << mine;
}

TEST(KvosSysInfoLinux, AProcessJustReapedIsNoneToWatch) {
  pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  auto r = RunKvos({"proc", std::to_string(child), "--count", "1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("no process with identifier " + std::to_string(child)), std::string::npos) << r.err;
}

}  // namespace
