// Processes, environment and user on every host. The children are this
// test program again, running only the child case below.
#include "OS/osprocess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "OS/host/error.h"
#include "OS/osthread.h"
#include "support/testing.h"

using namespace Korvane;

namespace {

// What a child does, from its environment: writes its arguments to
// KVOS_CHILD_OUT, waits until the file KVOS_CHILD_WAIT exists (at most a
// minute), and exits with KVOS_CHILD_EXIT.
TEST(ProcessChild, DISABLED_Run) {
  char const* out = std::getenv("KVOS_CHILD_OUT");
  if (out != nullptr && *out != '\0') {
    std::ofstream file(kvtest::U8Path(out), std::ios::binary);
    for (std::string const& arg : testing::internal::GetArgvs())
      if (arg.rfind("--gtest_", 0) != 0) file << "arg=" << arg << "\n";
    cKV_String value;
    file << "env=" << (osGetEnv("KVOS_CHILD_VALUE", value) ? static_cast<char const*>(value) : "(unset)") << "\n";
  }
  char const* wait = std::getenv("KVOS_CHILD_WAIT");
  for (int i = 0; wait != nullptr && *wait != '\0' && i < 6000 && !std::filesystem::exists(kvtest::U8Path(wait)); ++i)
    osSleep(10);
  char const* code = std::getenv("KVOS_CHILD_EXIT");
  std::exit(code != nullptr ? std::atoi(code) : 0);
}

// Child settings for the scope of one test.
class ChildSettings {
 public:
  ChildSettings(std::string const& out, std::string const& wait, int exitCode) {
    osSetEnv("KVOS_CHILD_OUT", out.c_str());
    osSetEnv("KVOS_CHILD_WAIT", wait.c_str());
    osSetEnv("KVOS_CHILD_EXIT", std::to_string(exitCode).c_str());
  }
  ~ChildSettings() {
    for (char const* name : {"KVOS_CHILD_OUT", "KVOS_CHILD_WAIT", "KVOS_CHILD_EXIT", "KVOS_CHILD_VALUE"})
      osSetEnv(name, "");
  }
};

unsigned int StartChild(cKV_Error& err, std::string const& arguments = "") {
  std::string line = "--gtest_brief=1 --gtest_also_run_disabled_tests --gtest_filter=ProcessChild.DISABLED_Run";
  if (!arguments.empty()) line += " " + arguments;
  return osCreateProcess(&err, kvtest::ProgramPath().c_str(), line.c_str(), nullptr, nullptr, nullptr);
}

// Only a broken library makes this wait its whole 30 seconds.
bool EndsWithin(unsigned int pid) {
  for (int i = 0; i < 15000 && osIsProcessExist(pid); ++i) osSleep(2);
  return !osIsProcessExist(pid);
}

std::string Why(int code) { return std::string(osGetSysErrorStr(code)); }

void ExpectReport(cKV_Error const& err, std::string const& text) {
  EXPECT_EQ(err.GetCode(), 5);
  EXPECT_STREQ(err.GetUnit(), ".\\osprocess");
  EXPECT_EQ(std::string(err.GetText()), text);
}

TEST(Process, ArgumentsEnvironmentAndExitStatus) {
  kvtest::TempDir dir;
  ChildSettings child(dir / "out", "", 42);
  ASSERT_TRUE(osSetEnv("KVOS_CHILD_VALUE", "inherited"));
  cKV_Error err;
  // Grouping quotes, an escaped quote after backslashes, an empty argument.
  unsigned int pid = StartChild(err, "plain \"two words\" a\\\\\\\"b \"\"");
  ASSERT_NE(pid, 0u) << err.ToString();
  EXPECT_TRUE(err.IsNotError());
  ASSERT_TRUE(EndsWithin(pid));
  EXPECT_EQ(kvtest::ReadFile(dir / "out"), "arg=" + kvtest::ProgramPath() +
                                               "\narg=plain\narg=two words\narg=a\\\"b\narg=\nenv=inherited\n");
  int code = -1;
  EXPECT_TRUE(osGetProcessExitCode(pid, code));
  EXPECT_EQ(code, 42);
}

TEST(Process, AChildFromStartToKillAndAfter) {
  kvtest::TempDir dir;
  ChildSettings child("", dir / "never", 0);
  cKV_Error err;
  unsigned int pid = StartChild(err);
  ASSERT_NE(pid, 0u) << err.ToString();
  EXPECT_TRUE(osIsProcessExist(pid));
  int code = -12345;
  EXPECT_FALSE(osGetProcessExitCode(pid, code)) << "still running";
  unsigned int copy = pid;
  osCloseProcessHandle(copy);
  EXPECT_TRUE(copy == 0u && osIsProcessExist(pid)) << "forgetting the id must not stop the process";
  {
    kvtest::ScopedFault refused("proc.kill", kvtest::HostError(kvtest::Err::kAccess));
    EXPECT_FALSE(osKillProcess(&err, pid, 1));
    ExpectReport(err, "Failed to kill process " + std::to_string(pid) + ". " +
                          Why(kvtest::HostError(kvtest::Err::kAccess)));
    EXPECT_TRUE(osIsProcessExist(pid));
  }
  err.Reset();
  EXPECT_TRUE(osKillProcess(&err, pid, 7) && err.IsNotError());
  ASSERT_TRUE(EndsWithin(pid));
  EXPECT_TRUE(osGetProcessExitCode(pid, code));
  EXPECT_EQ(code, kvtest::KilledExitStatus(7));
  // Once ended, the id is never killed again, whoever gets it next.
  EXPECT_FALSE(osKillProcess(&err, pid, 1));
  ExpectReport(err, "Failed to open process " + std::to_string(pid) + ". " +
                        Why(host::ErrorNumber(host::ErrorKind::kNoSuchProcess)));
  EXPECT_FALSE(osKillProcess(&err, copy, 1));
  ExpectReport(err, "Invalid process id");
}

TEST(Process, ProgramsThatCannotStart) {
  std::string program = kvtest::ProgramPath();
  struct Case {
    char const* program;
    char const* fault;
    int error;
  } const cases[] = {
      {"kvos-no-such-program-on-path", nullptr, kvtest::HostError(kvtest::Err::kNotFound)},
      {nullptr, nullptr, host::ErrorNumber(host::ErrorKind::kInvalidArgument)},
      {"", nullptr, host::ErrorNumber(host::ErrorKind::kInvalidArgument)},
      {program.c_str(), "proc.spawn", kvtest::HostError(kvtest::Err::kAccess)},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.program ? c.program : "(null)");
    cKV_Error err;
    std::optional<kvtest::ScopedFault> fault;
    if (c.fault != nullptr) fault.emplace(c.fault, c.error);
    EXPECT_EQ(osCreateProcess(&err, c.program, nullptr, nullptr, nullptr, nullptr), 0u);
    ExpectReport(err, "Failed to create process: " + Why(c.error));
  }
}

// A child that has ended long before anyone asks; many of them leave no
// descriptor, handle or thread of the library behind.
TEST(Process, ChildrenThatEndUnwatchedLeaveNothingBehind) {
  ChildSettings child("", "", 3);
  cKV_Error err;
  unsigned int first = StartChild(err);
  ASSERT_NE(first, 0u) << err.ToString();
  osSleep(300);
  ASSERT_TRUE(EndsWithin(first));
  int code = -1;
  EXPECT_TRUE(osGetProcessExitCode(first, code) && code == 3) << code;

  int before = kvtest::OpenFileCount();
  std::vector<unsigned int> pids;
  for (int i = 0; i < 20; ++i) {
    pids.push_back(StartChild(err));
    ASSERT_NE(pids.back(), 0u) << err.ToString();
  }
  for (unsigned int pid : pids) ASSERT_TRUE(EndsWithin(pid));
  // The watchers let go of their children on their own; give them a moment.
  for (int i = 0; i < 500 && kvtest::OpenFileCount() > before + kvtest::HostHandleSlack(); ++i) osSleep(10);
  EXPECT_LE(kvtest::OpenFileCount(), before + kvtest::HostHandleSlack());
  for (unsigned int pid : pids) EXPECT_TRUE(osGetProcessExitCode(pid, code) && code == 3) << pid;
}

TEST(Process, ThisProcessAndIdsThatNameNothing) {
  unsigned int self = osGetCurrentProcessId();
  EXPECT_NE(self, 0u);
  EXPECT_TRUE(osIsProcessExist(self));
  int code = -12345;
  EXPECT_FALSE(osGetProcessExitCode(self, code)) << "not started by the library";
  EXPECT_FALSE(osGetProcessExitCode(0, code));
  EXPECT_EQ(code, -12345);
  unsigned int none = 0;
  EXPECT_FALSE(osIsProcessExist(none));
  unsigned int huge = 0xFFFFFFF0u;
  EXPECT_FALSE(osIsProcessExist(huge));
  cKV_Error err;
  EXPECT_FALSE(osKillProcess(&err, huge, 1));
  EXPECT_EQ(err.GetCode(), 5);
  EXPECT_EQ(std::string(err.GetText()).rfind("Failed to open process " + std::to_string(static_cast<int>(huge)) + ". ", 0),
            0u)
      << err.GetText();
  osSetSilentErrorMode();  // whatever the host does with it, the process goes on
}

TEST(Environment, GetSetAndRemove) {
  cKV_String value("before");
  osSetEnv("KVOS_TEST_VAR", nullptr);
  EXPECT_TRUE(!osGetEnv("KVOS_TEST_VAR", value) && value == "before");
  EXPECT_TRUE(osSetEnv("KVOS_TEST_VAR", "1") && osGetEnv("KVOS_TEST_VAR", value) && value == "1");
  // Texts beyond ASCII pass as they are.
  EXPECT_TRUE(osSetEnv("KVOS_TEST_VAR", "gr\xC3\xBC\xC3\x9F") && osGetEnv("KVOS_TEST_VAR", value));
  EXPECT_STREQ(value, "gr\xC3\xBC\xC3\x9F");
  EXPECT_TRUE(osSetEnv("KVOS_TEST_VAR", ""));  // empty removes
  value = "kept";
  EXPECT_TRUE(!osGetEnv("KVOS_TEST_VAR", value) && value == "kept");
  EXPECT_TRUE(osSetEnv("KVOS_TEST_VAR", nullptr)) << "removing an unset variable";
  for (char const* name : {"KVOS_TEST_VAR=B", "", static_cast<char const*>(nullptr)})
    EXPECT_TRUE(!osSetEnv(name, "D") && !osGetEnv(name, value));
  EXPECT_STREQ(value, "kept");
}

TEST(Environment, TemporaryDirectoryAndUser) {
  std::string temp(osGetTemp());
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), kvtest::HostSeparator());
  EXPECT_TRUE(std::filesystem::is_directory(kvtest::U8Path(temp))) << temp;
  cKV_String user("old");
  EXPECT_TRUE(osGetCurrentProcessUser(user));
  EXPECT_GT(user.Length(), 0u);
  {
    kvtest::ScopedFault broken("proc.user", kvtest::HostError(kvtest::Err::kAccess));
    cKV_String none("kept");
    EXPECT_TRUE(!osGetCurrentProcessUser(none) && none == "kept");
  }
}

}  // namespace
