// kvos process as its users see it on every host, with this test program
// as the program started.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "OS/oserror.h"
#include "support/testing.h"

namespace {

// What a child does, from its environment: writes its arguments, one per
// line, to KVOS_CHILD_OUT, waits until the file KVOS_CHILD_WAIT exists (at
// most a minute), and exits with KVOS_CHILD_EXIT.
TEST(KvosProcessChild, DISABLED_Run) {
  if (char const* out = std::getenv("KVOS_CHILD_OUT"); out != nullptr && *out != '\0') {
    std::ofstream file(kvtest::U8Path(out), std::ios::binary);
    for (std::string const& arg : kvtest::ProgramArguments())
      if (arg.rfind("--gtest_", 0) != 0) file << "[" << arg << "]";
  }
  char const* wait = std::getenv("KVOS_CHILD_WAIT");
  for (int i = 0; wait != nullptr && *wait != '\0' && i < 6000 && !std::filesystem::exists(kvtest::U8Path(wait)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  char const* code = std::getenv("KVOS_CHILD_EXIT");
  std::exit(code != nullptr ? std::atoi(code) : 0);
}

class Child {
 public:
  Child(std::string const& out, std::string const& wait, int exitCode) {
    kvtest::SetEnv("KVOS_CHILD_OUT", out.c_str());
    kvtest::SetEnv("KVOS_CHILD_WAIT", wait.c_str());
    kvtest::SetEnv("KVOS_CHILD_EXIT", std::to_string(exitCode).c_str());
  }
  ~Child() {
    for (char const* name : {"KVOS_CHILD_OUT", "KVOS_CHILD_WAIT", "KVOS_CHILD_EXIT"}) kvtest::SetEnv(name, nullptr);
  }
  // `kvos process start [--wait] THIS-PROGRAM WORDS...`
  static std::vector<std::string> Start(bool wait, std::vector<std::string> const& words = {}) {
    std::vector<std::string> line{"process", "start"};
    if (wait) line.push_back("--wait");
    line.insert(line.end(), {kvtest::ProgramPath(), "--gtest_also_run_disabled_tests",
                             "--gtest_filter=KvosProcessChild.DISABLED_Run"});
    line.insert(line.end(), words.begin(), words.end());
    return line;
  }
};

kvtest::RunResult Process(std::vector<std::string> args, int status) {
  args.insert(args.begin(), "process");
  auto r = kvtest::RunKvos(args);
  EXPECT_EQ(r.status, status) << r.err;
  return r;
}

bool EndsWithin(std::string const& pid) {
  for (int i = 0; i < 3000 && kvtest::RunKvos({"process", "exists", pid}).status == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return kvtest::RunKvos({"process", "exists", pid}).status == 1;
}

TEST(KvosProcess, WaitEndsWithTheProgramsExitStatus) {
  kvtest::TempDir dir;
  for (int code : {0, 3, 255}) {
    Child child("", "", code);
    auto r = kvtest::RunKvos(Child::Start(true));
    EXPECT_EQ(r.status, code) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
  }
}

TEST(KvosProcess, StartsWatchesAndStops) {
  kvtest::TempDir dir;
  std::string const out = dir / "out", go = dir / "go";
  Child child(out, go, 0);
  auto started = kvtest::RunKvos(Child::Start(false));
  ASSERT_EQ(started.status, 0) << started.err;
  std::string const pid = std::to_string(std::stoul(started.out));
  EXPECT_EQ(started.out, pid + "\n");
  EXPECT_EQ(Process({"exists", pid}, 0).out, "running\n");
  Process({"kill", pid}, 0);
  EXPECT_TRUE(EndsWithin(pid));
  EXPECT_EQ(Process({"exists", pid}, 1).out, "not running\n");

  // A program that is not there: the library's record, with the host's
  // number for a missing file.
  auto missing = Process({"start", "/nonexistent/program"}, 1);
  EXPECT_EQ(missing.err.rfind("kvos process: Failed to create process: GetLastError()=" +
                                  std::to_string(kvtest::HostError(kvtest::Err::kNotFound)) + " [",
                              0),
            0u)
      << missing.err;
  EXPECT_EQ(Process({"exists", "2147483647"}, 1).out, "not running\n");
  EXPECT_EQ(Process({"exists", "4294967295"}, 1).out, "not running\n");
  Process({"exists", "4294967296"}, 2);
}

TEST(KvosProcess, WordsAfterTheProgramAreItsOwn) {
  kvtest::TempDir dir;
  std::string const out = dir / "words";
  // Each word arrives as one argument, however it is written: blanks,
  // quotes, backslashes before a quote or at the end, nothing at all,
  // non-ASCII text, and words that the tool itself would take as options
  // (not help requests: the test program would take those).
  std::vector<std::string> const words{"a b", "", "x\"y", "c:\\d\\", "e f\\\\", "e\\\"f", "\\\\\"", "\t",
                                       "--wait", "--", "--force", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC"};
  std::string expected = "[" + kvtest::ProgramPath() + "]";
  for (auto const& w : words) expected += "[" + w + "]";
  Child child(out, "", 0);
  auto r = kvtest::RunKvos(Child::Start(true, words));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(kvtest::ReadFile(out), expected);

  // A name that the command line cannot carry, and none at all.
  for (auto const& bad : std::vector<std::vector<std::string>>{{"start", "a\"b"}, {"start", ""}, {"start", "--wait"}})
    EXPECT_NE(Process(bad, 2).err.find("Usage: kvos process"), std::string::npos);
}

TEST(KvosProcess, KillRefusesTheSystemWithoutForce) {
  for (auto const& pid : {"0", "1"}) {
    auto r = Process({"kill", pid}, 2);
    EXPECT_NE(r.err.find("--force"), std::string::npos) << r.err;
  }
  // Forced, 0 reaches the library, which refuses it.
  EXPECT_EQ(Process({"kill", "--force", "0"}, 1).err, "kvos process: Invalid process id\n");
  auto gone = Process({"kill", "2147483647"}, 1);
  EXPECT_EQ(gone.err.find("--force"), std::string::npos) << gone.err;
}

TEST(KvosProcess, DescribesItsProcess) {
  auto self = Process({"self"}, 0).out;
  unsigned int pid = 0, thread = 0;
  EXPECT_EQ(std::sscanf(self.c_str(), "process %u thread %u\n", &pid, &thread), 2) << self;
  EXPECT_TRUE(pid != 0 && thread != 0) << self;
  EXPECT_FALSE(Process({"user"}, 0).out.empty());
  EXPECT_TRUE(Process({"temp"}, 0).out.ends_with(std::string(1, kvtest::HostSeparator()) + "\n"));
}

TEST(KvosProcess, BadArguments) {
  for (auto const& args : std::vector<std::vector<std::string>>{
           {}, {"start"}, {"exists"}, {"kill", "x"}, {"kill", "1", "2"}, {"user", "x"}, {"what"}})
    EXPECT_NE(Process(args, 2).err.find("Usage: kvos process"), std::string::npos);
  auto help = Process({"--help"}, 0);
  for (char const* told : {"--force", "--wait", "On Windows"}) EXPECT_NE(help.out.find(told), std::string::npos) << told;
}

}  // namespace
