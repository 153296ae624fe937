// Threads on Windows: exit codes, the host's priority levels and its error
// texts.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>

#include "OS/osthread.h"
#include "support/testing.h"

using namespace Korvane;

namespace {

TEST(ThreadWindows, TheFunctionsResultIsTheExitCode) {
  for (std::uintptr_t result : {std::uintptr_t{0}, std::uintptr_t{259}, std::uintptr_t{0xFFFFFFFF}}) {
    cKV_Error err;
    void* t = osCreateThread(&err, [](void* arg) { return static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(arg)); },
                             reinterpret_cast<void*>(result), nullptr);
    ASSERT_NE(t, nullptr) << err.ToString();
    ASSERT_EQ(WaitForSingleObject(static_cast<HANDLE>(t), 30000), WAIT_OBJECT_0);
    DWORD code = 12345;
    EXPECT_TRUE(GetExitCodeThread(static_cast<HANDLE>(t), &code));
    EXPECT_EQ(code, static_cast<DWORD>(result));
    osCloseThread(t);
  }
}

TEST(ThreadWindows, HostLevelsPassThrough) {
  std::thread([] {
    // Levels that only other code sets come back as the host has them.
    for (int level : {THREAD_PRIORITY_IDLE, THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_NORMAL}) {
      ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), level));
      EXPECT_EQ(osGetPriority(), level);
    }
    for (int level = -2; level <= 2; ++level) {
      osSetPriority(level);
      EXPECT_EQ(GetThreadPriority(GetCurrentThread()), level);
    }
    osSetPriority(-15);  // the idle level is out of the range callers may set
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), 2);
  }).join();
}

TEST(ThreadWindows, CreationFailuresNameTheHostsReason) {
  auto noop = [](void*) -> unsigned int { return 0; };
  {
    kvtest::ScopedFault refused("thread.create", ERROR_NOT_ENOUGH_MEMORY);
    cKV_Error err;
    EXPECT_EQ(osCreateThread(&err, noop, nullptr, nullptr), nullptr);
    EXPECT_EQ(err.GetCode(), 4);
    EXPECT_EQ(std::string(err.GetText()),
              "Failed to create new thread. " + std::string(osGetSysErrorStr(ERROR_NOT_ENOUGH_MEMORY)));
  }
  cKV_Error err;
  EXPECT_EQ(osCreateThread(&err, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(std::string(err.GetText()),
            "Failed to create new thread. " + std::string(osGetSysErrorStr(ERROR_INVALID_PARAMETER)));
  EXPECT_EQ(std::string(osGetSysErrorStr(ERROR_INVALID_PARAMETER)).rfind("GetLastError()=87 [", 0), 0u);
}

}  // namespace
