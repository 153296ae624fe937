// Processes on Windows: the command line as given, nothing inherited, the
// host's answers for the user, the temporary directory and the error mode,
// and the process's handles counted around it all.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "OS/osprocess.h"
#include "OS/osthread.h"
#include "support/testing.h"

using namespace Korvane;

namespace {

std::string Utf8(wchar_t const* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

// The child: writes its command line to KVOS_CHILD_OUT, tries the handle
// value KVOS_CHILD_HANDLE (a pipe's write end in the parent), exits with
// KVOS_CHILD_EXIT.
TEST(ProcessWindowsChild, DISABLED_Run) {
  if (char const* out = std::getenv("KVOS_CHILD_OUT"))
    kvtest::WriteFile(out, Utf8(GetCommandLineW()));
  if (char const* handle = std::getenv("KVOS_CHILD_HANDLE")) {
    DWORD written = 0;
    WriteFile(reinterpret_cast<HANDLE>(std::strtoull(handle, nullptr, 10)), "leak", 4, &written, nullptr);
  }
  char const* code = std::getenv("KVOS_CHILD_EXIT");
  ExitProcess(code != nullptr ? static_cast<UINT>(std::strtoul(code, nullptr, 10)) : 0);
}

constexpr char kChildArgs[] = "--gtest_brief=1 --gtest_also_run_disabled_tests --gtest_filter=ProcessWindowsChild.DISABLED_Run";

bool EndsWithin(unsigned int pid) {
  for (int i = 0; i < 15000 && osIsProcessExist(pid); ++i) osSleep(2);
  return !osIsProcessExist(pid);
}

int Handles() { return kvtest::OpenFileCount(); }

TEST(ProcessWindows, CommandLineAsGivenAndNoHandleInherited) {
  kvtest::TempDir dir;
  std::string out = dir / "line";
  HANDLE readEnd, writeEnd;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 0));
  kvtest::SetEnv("KVOS_CHILD_OUT", out.c_str());
  kvtest::SetEnv("KVOS_CHILD_HANDLE", std::to_string(reinterpret_cast<std::uintptr_t>(writeEnd)).c_str());
  // Quotes and backslashes reach the child as written; the program's own
  // name too, unquoted.
  std::string program = kvtest::ProgramPath();
  std::string arguments = std::string(kChildArgs) + " \"a b\"  c\\\\\"d\\\" \"\"";
  cKV_Error err;
  unsigned int pid = osCreateProcess(&err, program.c_str(), arguments.c_str(), "third", "fourth", nullptr);
  ASSERT_NE(pid, 0u) << err.ToString();
  ASSERT_TRUE(EndsWithin(pid));
  EXPECT_EQ(kvtest::ReadFile(out), program + " " + arguments);
  DWORD waiting = 1;
  ASSERT_TRUE(PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr));
  EXPECT_EQ(waiting, 0u) << "the child wrote through a handle it should not have";
  kvtest::SetEnv("KVOS_CHILD_HANDLE", nullptr);
  kvtest::SetEnv("KVOS_CHILD_OUT", nullptr);
  CloseHandle(readEnd);
  CloseHandle(writeEnd);
}

TEST(ProcessWindows, ChildrenThatCannotStartOrEndOddly) {
  cKV_Error err;
  // Invalid UTF-8 never reaches the host mangled.
  EXPECT_EQ(osCreateProcess(&err, "kvos-\xFF\xFE", nullptr, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(std::string(err.GetText()),
            "Failed to create process: " + std::string(osGetSysErrorStr(ERROR_NO_UNICODE_TRANSLATION)));
  // A directory is no program.
  kvtest::TempDir dir;
  EXPECT_EQ(osCreateProcess(&err, dir.Path().c_str(), nullptr, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(err.GetCode(), 5);

  // A child whose exit code is the host's "still active": the library holds
  // it, so it still knows that the child has ended.
  int before = Handles();
  kvtest::SetEnv("KVOS_CHILD_EXIT", "259");
  unsigned int pid = osCreateProcess(&err, kvtest::ProgramPath().c_str(), kChildArgs, nullptr, nullptr, nullptr);
  kvtest::SetEnv("KVOS_CHILD_EXIT", nullptr);
  ASSERT_NE(pid, 0u) << err.ToString();
  ASSERT_TRUE(EndsWithin(pid));
  int code = 0;
  EXPECT_TRUE(osGetProcessExitCode(pid, code) && code == 259) << code;
  for (int i = 0; i < 500 && Handles() > before + kvtest::HostHandleSlack(); ++i) osSleep(10);
  EXPECT_LE(Handles(), before + kvtest::HostHandleSlack()) << "a handle of the child stays open";
}

TEST(ProcessWindows, TheHostsUserTempAndErrorMode) {
  wchar_t name[257];
  DWORD size = 257;
  ASSERT_TRUE(GetUserNameW(name, &size));
  cKV_String user;
  ASSERT_TRUE(osGetCurrentProcessUser(user));
  EXPECT_EQ(std::string(user), Utf8(name));

  wchar_t temp[MAX_PATH + 1];
  ASSERT_GT(GetTempPathW(MAX_PATH + 1, temp), 0u);
  EXPECT_EQ(std::string(osGetTemp()), Utf8(temp));

  UINT old = SetErrorMode(0);
  osSetSilentErrorMode();
  EXPECT_EQ(GetErrorMode(), 0x8003u);
  SetErrorMode(old);
}

}  // namespace
