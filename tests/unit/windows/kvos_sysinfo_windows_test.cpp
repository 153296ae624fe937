// kvos info against what Windows itself says.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/testing.h"

namespace {

TEST(KvosSysInfoWindows, InfoAgreesWithTheHost) {
  auto r = kvtest::RunKvos({"info"});
  ASSERT_EQ(r.status, 0) << r.err;
  MEMORYSTATUSEX memory{};
  memory.dwLength = sizeof memory;
  ASSERT_TRUE(GlobalMemoryStatusEx(&memory));
  SYSTEM_INFO system{};
  GetNativeSystemInfo(&system);
  for (std::string const& part : {std::string("Host type:        Windows\n"),
                                  "Processors:       " + std::to_string(system.dwNumberOfProcessors) + "\n",
                                  "Memory:           " + std::to_string(memory.ullTotalPhys) + " bytes"})
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  // Line feeds only, as on every host.
  EXPECT_EQ(r.out.find('\r'), std::string::npos);
}

}  // namespace
