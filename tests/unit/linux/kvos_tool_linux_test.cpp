// The kvos tool where only POSIX hosts show it.
#include <gtest/gtest.h>

#include <string>

#include "support/testing.h"

namespace {

TEST(KvosToolLinux, OutputThatCannotBeWrittenIsAFailure) {
  auto full = kvtest::Run({"/bin/sh", "-c", std::string("'") + KVOS_TOOL_PATH + "' b64 encode 1 >/dev/full"});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("kvos: cannot write the output: No space left on device"), std::string::npos) << full.err;
}

}  // namespace
