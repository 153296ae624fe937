// kvos uid where only Linux shows it: a network namespace without Ethernet.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "OS/osuid.h"
#include "support/testing.h"

namespace {

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
