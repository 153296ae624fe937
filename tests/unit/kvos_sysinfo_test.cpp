// kvos info and kvos load as their users see them.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/testing.h"

using kvtest::RunKvos;

namespace {

std::vector<std::string> Lines(std::string const& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(KvosSysInfo, InfoDescribesThisMachine) {
  auto r = RunKvos({"info"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty());
  utsname u{};
  uname(&u);
  EXPECT_NE(r.out.find("Host type:        Linux\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Processors:       " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + "\n"),
            std::string::npos)
      << r.out;
  unsigned long long ram = static_cast<unsigned long long>(sysconf(_SC_PHYS_PAGES)) *
                           static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
  EXPECT_NE(r.out.find("Memory:           " + std::to_string(ram) + " bytes"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(std::string("kernel ") + u.release), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Processor speed:  "), std::string::npos);

  // Plain kvos carries the same description.
  auto about = RunKvos({});
  ASSERT_EQ(about.status, 0);
  EXPECT_NE(about.out.find("This host:\n  Host type:        Linux\n"), std::string::npos) << about.out;
  EXPECT_NE(about.out.find("  Processors:       "), std::string::npos);
  EXPECT_NE(about.out.find("info"), std::string::npos);

  EXPECT_EQ(RunKvos({"info", "--help"}).status, 0);
  auto extra = RunKvos({"info", "now"});
  EXPECT_EQ(extra.status, 2);
  EXPECT_TRUE(extra.out.empty());
}

TEST(KvosSysInfo, LoadPrintsOneLinePerSample) {
  auto r = RunKvos({"load", "--interval", "20", "--count", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_NE(lines[0].find("cpu%"), std::string::npos);
  unsigned long long ramMiB = static_cast<unsigned long long>(sysconf(_SC_PHYS_PAGES)) *
                              static_cast<unsigned long long>(sysconf(_SC_PAGESIZE)) / (1024 * 1024);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::istringstream f(lines[i]);
    long long cpu = -1, mem = -1, swapAvail = -1, swapTotal = -1;
    ASSERT_TRUE(static_cast<bool>(f >> cpu >> mem >> swapAvail >> swapTotal)) << lines[i];
    EXPECT_GE(cpu, 0);
    EXPECT_LE(cpu, 100);
    EXPECT_GT(mem, 0);
    EXPECT_LE(static_cast<unsigned long long>(mem), ramMiB);
    EXPECT_LE(swapAvail, swapTotal);
  }
  EXPECT_EQ(RunKvos({"load", "--help"}).status, 0);
}

TEST(KvosSysInfo, LoadRefusesBadOptions) {
  for (std::vector<std::string> const& args :
       {std::vector<std::string>{"load", "--interval", "-5"}, {"load", "--interval", "0"},
        {"load", "--interval", "3600001"}, {"load", "--interval"}, {"load", "--count", "-1"},
        {"load", "--count", "0"}, {"load", "--count", "2x"}, {"load", "--count", "99999999999999999999"},
        {"load", "--every", "5"}, {"load", "7"}}) {
    auto r = RunKvos(args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_TRUE(r.out.empty()) << args.back();
    EXPECT_NE(r.err.find("Usage: kvos load"), std::string::npos) << args.back();
  }
}

}  // namespace
