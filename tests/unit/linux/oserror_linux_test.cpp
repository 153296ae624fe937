// The host's error numbers and texts: errno and strerror.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "OS/oserror.h"

namespace {

TEST(Error, SystemErrorText) {
  errno = ENOENT;
  EXPECT_EQ(Korvane::osGetSysError(), ENOENT);
  EXPECT_EQ(std::string(Korvane::osGetSysErrorStr(ENOENT)), "GetLastError()=2 [" + std::string(strerror(ENOENT)) + "]");
  // Numbers without a description give an empty string, not "[]".
  EXPECT_TRUE(Korvane::osGetSysErrorStr(-1) == "" && Korvane::osGetSysErrorStr(99999) == "");
  // Reading the text does not disturb the thread's last error.
  errno = EACCES;
  Korvane::osGetSysErrorStr(ENOENT);
  EXPECT_EQ(Korvane::osGetSysError(), EACCES);
}

}  // namespace
