// Identifiers where the load sequence runs under kv_Os.dll's loader lock:
// the node is taken by the first Generate, from the load time.
#include <gtest/gtest.h>

#include <cstring>

#include "OS/host/net.h"
#include "OS/internal/uid.h"
#include "OS/osuid.h"
#include "OS/windows/loader.h"

using Korvane::cKV_Uid;
namespace host = Korvane::host;

namespace {

int g_listed = 0;
bool g_withAddress = true;

int OneEthernet(host::NetInterface* out, int cap, bool) {
  ++g_listed;
  if (cap < 1) return 1;
  *out = host::NetInterface{};
  out->kind = host::NetKind::kEthernet;
  out->hwLength = 6;
  if (g_withAddress) std::memcpy(out->hw, "\x02\xAB\xCD\xEF\x01\x23", 6);
  return 1;
}

// Restarts the generator as kv_Os.dll's entry point would.
void RestartUnderLoaderLock() {
  Korvane::win::SetInLoaderLock(true);
  Korvane::StopUidGenerator();
  Korvane::StartUidGenerator();
  Korvane::win::SetInLoaderLock(false);
}

TEST(UidWindows, NodeIsTakenOnFirstUseUnderTheLoaderLock) {
  host::SetNetInterfaceLister(OneEthernet);
  for (bool withAddress : {true, false}) {
    g_withAddress = withAddress;
    g_listed = 0;
    RestartUnderLoaderLock();
    EXPECT_EQ(g_listed, 0);  // the adapters were not asked under the lock
    cKV_Uid a, b;
    a.Generate();
    int asked = g_listed;
    b.Generate();
    EXPECT_TRUE(asked > 0 && g_listed == asked);  // once
    EXPECT_EQ(std::memcmp(a.GetBuffer(), b.GetBuffer(), 6), 0);
    if (withAddress) {
      EXPECT_EQ(std::memcmp(a.GetBuffer(), "\x02\xAB\xCD\xEF\x01\x23", 6), 0);
    } else {
      // The load time, not the time of the first Generate: it is no later
      // than the identifier's own stamp.
      unsigned char const* u = a.GetBuffer();
      long long node = (static_cast<long long>(u[0]) << 24 | u[1] << 16 | u[2] << 8 | u[3]) * 1000 + (u[4] << 8 | u[5]);
      long long stamp = static_cast<long long>(u[10] | u[11] << 8 | u[12] << 16 | static_cast<unsigned>(u[13]) << 24) *
                            1000 +
                        (u[14] | u[15] << 8);
      EXPECT_TRUE(node <= stamp && stamp - node < 60000) << node << " " << stamp;
    }
  }
  host::SetNetInterfaceLister(nullptr);
  Korvane::StopUidGenerator();
  Korvane::StartUidGenerator();
}

}  // namespace
