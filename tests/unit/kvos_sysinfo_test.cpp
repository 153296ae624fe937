// kvos info, kvos load and kvos proc as their users see them.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "OS/osprocess.h"
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
  // What the host itself says is checked by the host suites.
  for (std::string const& part : {std::string("Host type:        "),
                                  "Processors:       " + std::to_string(std::thread::hardware_concurrency()) + "\n",
                                  std::string("Memory:           "), std::string("Processor speed:  ")})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  // The interfaces as kvos net lists them: the Ethernet address, their
  // count, then one line each starting with its name.
  auto net = Lines(RunKvos({"net", "if"}).out);
  ASSERT_GE(net.size(), 2u);
  EXPECT_NE(r.out.find(net[0] + "\n"), std::string::npos) << r.out;
  std::size_t count = std::stoul(net[1]);
  EXPECT_NE(r.out.find("Interfaces:       " + std::to_string(count) + "\n"), std::string::npos) << r.out;
  for (std::size_t i = 2; i < 2 + count; ++i)
    EXPECT_NE(r.out.find("  " + net.at(i).substr(2, net[i].find(' ', 2) - 2) + " "), std::string::npos) << net[i];

  // Plain kvos carries the same description.
  auto about = RunKvos({});
  ASSERT_EQ(about.status, 0);
  EXPECT_NE(about.out.find("This host:\n  Host type:        "), std::string::npos) << about.out;
}

TEST(KvosSysInfo, LoadPrintsOneLinePerSample) {
  auto r = RunKvos({"load", "--interval", "20", "--count", "3"});
  ASSERT_EQ(r.status, 0) << r.err;
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_NE(lines[0].find("cpu%"), std::string::npos);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    long long cpu = -1, mem = -1, swapAvail = -1, swapTotal = -1;
    ASSERT_EQ(std::sscanf(lines[i].c_str(), "%lld %lld %lld %lld", &cpu, &mem, &swapAvail, &swapTotal), 4) << lines[i];
    EXPECT_TRUE(cpu >= 0 && cpu <= 100 && mem > 0 && swapAvail <= swapTotal) << lines[i];
  }
}

TEST(KvosSysInfo, ProcWatchesAnotherProcess) {
  // This test process, and the tool's own, which also shows page faults and
  // resident size.
  for (std::string pid : {std::to_string(Korvane::osGetCurrentProcessId()), std::string("self")}) {
    auto r = RunKvos({"proc", pid, "--interval", "20", "--count", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_NE(lines[0].find(pid == "self" ? "resident-KiB" : "cpu%"), std::string::npos) << lines[0];
    for (std::size_t i = 1; i < lines.size(); ++i) {
      int load = -1, h = -1, m = -1;
      double sec = -1;
      long long faults = -1, residentKiB = -1;
      int fields = std::sscanf(lines[i].c_str(), "%d %d:%d:%lf %lld %lld", &load, &h, &m, &sec, &faults, &residentKiB);
      double seconds = h * 3600.0 + m * 60.0 + sec;  // the time is "H:MM:SS.nnnnnnnnn"
      EXPECT_TRUE(load >= 0 && load <= 100) << lines[i];
      if (pid == "self") {
        EXPECT_EQ(fields, 6) << lines[i];
        EXPECT_TRUE(seconds >= 0 && faults >= 0 && residentKiB > 100) << lines[i];  // a running program
      } else {
        EXPECT_EQ(fields, 4) << lines[i];
        EXPECT_TRUE(seconds >= 0 && m < 60 && sec < 60) << lines[i];
      }
    }
  }
}

TEST(KvosSysInfo, BadArgumentsAndMissingProcesses) {
  for (char const* line :
       {"info now", "load --interval 0", "load --interval 3600001", "load --interval", "load --count 0",
        "load --count 2x", "load --every 5", "proc", "proc 0", "proc 4294967296", "proc 1 2"}) {
    std::vector<std::string> args;
    std::istringstream words(line);
    for (std::string word; words >> word;) args.push_back(word);
    auto r = RunKvos(args);
    EXPECT_EQ(r.status, 2) << line;
    EXPECT_TRUE(r.out.empty()) << line;
    EXPECT_NE(r.err.find("Usage: kvos " + args[0]), std::string::npos) << line;
  }
  for (char const* command : {"info", "load", "proc"}) EXPECT_EQ(RunKvos({command, "--help"}).status, 0) << command;
  // A well-formed identifier of no process.
  for (std::string pid : {std::string("4294967295")}) {
    auto r = RunKvos({"proc", pid, "--count", "1"});
    EXPECT_EQ(r.status, 1) << pid;
    EXPECT_TRUE(r.out.empty()) << pid;
    EXPECT_NE(r.err.find("no process with identifier " + pid), std::string::npos) << r.err;
  }
}

}  // namespace
