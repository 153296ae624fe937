#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "OS/host/net.h"
#include "OS/internal/uid.h"
#include "OS/osnet.h"
#include "OS/ostime.h"
#include "OS/osuid.h"
#include "support/testing.h"
#include "unit/osuid_helpers.h"

using Korvane::cKV_Uid;

namespace {

unsigned int Little(unsigned char const* b, int n) {
  unsigned int v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[i];
  return v;
}

// The clock the library reads; time() may lag it by a tick.
unsigned int NowSeconds() { return static_cast<unsigned int>(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now())); }

// Seconds and milliseconds of the stamp as one number.
long long Stamp(cKV_Uid const& u) {
  return static_cast<long long>(static_cast<int>(Little(u.GetBuffer() + 10, 4))) * 1000 + Little(u.GetBuffer() + 14, 2);
}

// Node, process id and stamp; then each new identifier has a later stamp
// and the same node and process.
TEST(UidGenerate, LayoutAndOnePerMillisecond) {
  long long before = NowSeconds() * 1000LL;
  cKV_Uid previous, next;
  previous.Generate();
  long long after = (NowSeconds() + 1LL) * 1000;
  unsigned char const* b = previous.GetBuffer();
  EXPECT_EQ(Little(b + 6, 4), uidtest::HostProcessId());
  EXPECT_TRUE(before <= Stamp(previous) && Stamp(previous) < after && Little(b + 14, 2) < 1000) << Stamp(previous);
  unsigned char mac[6] = {};
  bool hasMac = Korvane::osNetGetEtherMAC(mac) && std::any_of(mac, mac + 6, [](unsigned char c) { return c != 0; });
  EXPECT_TRUE(!hasMac || std::memcmp(b, mac, 6) == 0);
  for (int i = 0; i < 200; ++i) {
    next.Generate();
    ASSERT_TRUE(Stamp(next) > Stamp(previous) && std::memcmp(next.GetBuffer(), previous.GetBuffer(), 10) == 0);
    previous = next;
  }
}

// A host with one interface of this kind (Ethernet with an address of
// zeros).
Korvane::host::NetKind g_kind = Korvane::host::NetKind::kOther;
int OneInterface(Korvane::host::NetInterface* out, int cap, bool) {
  if (cap < 1) return 1;
  *out = Korvane::host::NetInterface{};
  out->index = 2, out->kind = g_kind;
  out->hwLength = g_kind == Korvane::host::NetKind::kEthernet ? 6 : 0;
  return 1;
}

// Without an Ethernet address (or with one of zeros) the node is the load
// time, seconds and milliseconds most significant byte first.
TEST(UidGenerate, NodeFromTheLoadTimeWithoutEthernet) {
  Korvane::tTimeb loaded;
  loaded.seconds = 0x12345678;
  loaded.milliseconds = 999;
  for (auto kind : {Korvane::host::NetKind::kOther, Korvane::host::NetKind::kEthernet}) {
    g_kind = kind;
    Korvane::host::SetNetInterfaceLister(OneInterface);
    unsigned char node[6] = {1, 1, 1, 1, 1, 1};
    Korvane::internal::UidNode(node, loaded);
    Korvane::host::SetNetInterfaceLister(nullptr);
    EXPECT_EQ(std::memcmp(node, "\x12\x34\x56\x78\x03\xe7", 6), 0);
  }
}

// A clock that cannot be read must not stall generation or repeat stamps.
TEST(UidGenerate, UnreadableClockCountsOn) {
  cKV_Uid first, a, b;
  first.Generate();
  kvtest::ScopedFault f("time.clock", 22, 0, 100);
  a.Generate();
  b.Generate();
  EXPECT_TRUE(Stamp(a) > Stamp(first) && Stamp(b) == Stamp(a) + 1);
}

// One identifier per millisecond: 8,000 of them take 8 seconds, each of the
// 8,000 steps a race of eight threads for the same stamp.
constexpr int kEach = 1000;

TEST(UidGenerate, UniqueAcrossThreads) {
  std::vector<std::vector<cKV_Uid>> made(8, std::vector<cKV_Uid>(kEach));
  std::vector<std::thread> threads;
  for (auto& list : made) threads.emplace_back([&list] { for (auto& u : list) u.Generate(); });
  for (auto& t : threads) t.join();
  std::set<std::string> seen;
  for (auto const& list : made)
    for (auto const& u : list) ASSERT_TRUE(seen.insert(static_cast<char const*>(u.ToString())).second);
}

// Four processes started at once: the process id keeps them apart.
// Four processes linked with the shared library, started at once: the
// process id keeps them apart, and their node is this process's.
TEST(UidGenerate, UniqueAcrossProcesses) {
  std::vector<kvtest::RunResult> results(4);
  std::vector<std::thread> starters;
  for (auto& r : results) starters.emplace_back([&r] { r = uidtest::RunProbe({"uid", "500"}); });
  for (auto& s : starters) s.join();
  cKV_Uid own;
  own.Generate();
  std::string node = std::string(own.ToString()).substr(0, 14);
  std::set<std::string> seen, processes;
  for (auto const& r : results) {
    ASSERT_EQ(r.status, 0) << r.err;
    std::string text;
    for (char c : r.out) text += c == '\r' ? "" : std::string(1, c);  // text-mode line ends
    ASSERT_EQ(text.size(), 500u * 35u);
    for (std::size_t at = 0; at < text.size(); at += 35) {
      std::string line = text.substr(at, 34);
      cKV_Uid u;
      ASSERT_TRUE(u.FromString(line.c_str()) && text[at + 34] == '\n') << line;
      ASSERT_EQ(line.substr(0, 14), node);
      processes.insert(line.substr(14, 8));
      ASSERT_TRUE(seen.insert(line).second) << line;
    }
  }
  EXPECT_EQ(processes.size(), 4u);
}

}  // namespace
