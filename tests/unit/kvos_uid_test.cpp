// kvos uid as its users see it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "OS/osuid.h"
#include "support/testing.h"
#include "unit/ostime_zone.h"

using kvtest::RunKvos;

namespace {

TEST(KvosUid, TakesIdentifiersApart) {
  kvtest::ScopedZone zone("UTC");  // the child shows the stamp in this zone
  auto r = RunKvos({"uid", "parse", "0x02fc000000013930000001bb93676f00"});
  EXPECT_EQ(r.status, 0) << r.err;
  if (zone.HereOrSay())
    EXPECT_EQ(r.out,
              "node:       02:fc:00:00:00:01\n"
              "process id: 12345\n"
              "time stamp: 2025-01-24 16:08:33.111 local time (1737734913 s 111 ms since 1970)\n");
  else
    EXPECT_TRUE(r.out.ends_with(" local time (1737734913 s 111 ms since 1970)\n")) << r.out;

  auto bad = RunKvos({"uid", "parse", "0X02fc000000013930000001bb93676f00"});
  EXPECT_TRUE(bad.status == 2 && bad.out.empty() && bad.err.find("not an identifier text") != std::string::npos)
      << bad.err;
  for (auto const& bad : {"parse", "frob"}) EXPECT_EQ(RunKvos({"uid", bad}).status, 2) << bad;
  EXPECT_EQ(RunKvos({"uid", "--help"}).status, 0);
}

// The identifiers themselves are checked across processes elsewhere.
TEST(KvosUid, MakesIdentifiers) {
  EXPECT_EQ(RunKvos({}).status, 0);
  std::string one = RunKvos({"uid"}).out;
  EXPECT_TRUE(one.size() == 35 && one.rfind("0x", 0) == 0 && one[34] == '\n') << one;
  // " 010" would otherwise be read as octal 8.
  for (auto const& bad : {"0", "100001", " 010", "\t3"}) EXPECT_EQ(RunKvos({"uid", bad}).status, 2) << bad;
  EXPECT_EQ(RunKvos({"uid", "1", "2"}).status, 2);
}

}  // namespace
