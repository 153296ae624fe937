// kvos uid as its users see it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "OS/osuid.h"
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

// A machine without Ethernet: the node is the library's load time.
TEST(KvosUid, NodeIsTheLoadTimeWithoutEthernet) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a network namespace";
  std::string ns = "kvtestuid" + std::to_string(getpid());
  if (kvtest::Run({"ip", "netns", "add", ns}).status != 0) GTEST_SKIP() << "this machine cannot make network namespaces";
  auto r = kvtest::Run({"ip", "netns", "exec", ns, KVOS_TOOL_PATH, "uid"});
  kvtest::Run({"ip", "netns", "del", ns});
  ASSERT_EQ(r.status, 0) << r.err;
  Korvane::cKV_Uid u;
  ASSERT_TRUE(u.FromString(r.out.c_str())) << r.out;
  unsigned char const* b = u.GetBuffer();
  unsigned int node = (b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
  unsigned int stamp = b[10] | (b[11] << 8) | (b[12] << 16) | (static_cast<unsigned int>(b[13]) << 24);
  EXPECT_TRUE(node <= stamp && stamp - node <= 2) << node << " " << stamp;
  EXPECT_LT((b[4] << 8) | b[5], 1000);
}

}  // namespace
