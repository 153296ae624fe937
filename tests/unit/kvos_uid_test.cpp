// kvos uid as its users see it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/testing.h"

using kvtest::RunKvos;

namespace {

TEST(KvosUid, TakesIdentifiersApart) {
  setenv("TZ", "UTC0", 1);  // the child shows the stamp in this zone
  auto r = RunKvos({"uid", "parse", "0x02fc000000013930000001bb93676f00"});
  unsetenv("TZ");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "node:       02:fc:00:00:00:01\n"
            "process id: 12345\n"
            "time stamp: 2025-01-24 16:08:33.111 local time (1737734913 s 111 ms since 1970)\n");

  auto bad = RunKvos({"uid", "parse", "0X02fc000000013930000001bb93676f00"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("not an identifier text"), std::string::npos);
  EXPECT_TRUE(bad.out.empty());
  EXPECT_EQ(RunKvos({"uid", "parse"}).status, 2);
  EXPECT_EQ(RunKvos({"uid", "frob"}).status, 2);
  EXPECT_EQ(RunKvos({"uid", "--help"}).status, 0);
}

}  // namespace
