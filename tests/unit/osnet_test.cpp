#include "OS/osnet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "OS/host/net.h"
#include "support/testing.h"

using namespace Korvane;
using Korvane::host::NetInterface;
using kvtest::ScopedFault;

namespace {

constexpr int kLoopback = 772;
constexpr int kTunnel = 65534;
constexpr int kEther = host::kHwEthernet;

NetInterface Record(int index, char const* name, int type, char const* ipv4, bool running = true,
                    char const* alias = "", std::vector<unsigned char> hw = {}) {
  NetInterface r{};
  r.index = index;
  std::snprintf(r.name, sizeof r.name, "%s", name);
  std::snprintf(r.alias, sizeof r.alias, "%s", alias);
  r.hwType = type;
  if (hw.empty() && type == kEther) hw = {0x02, 0, 0, 0, 0, static_cast<unsigned char>(index)};
  r.hwLength = static_cast<unsigned int>(hw.size());
  if (!hw.empty()) std::memcpy(r.hw, hw.data(), hw.size());
  r.ipv4 = ipv4 != nullptr ? inet_addr(ipv4) : 0;
  r.running = running;
  return r;
}

// The recorded listing in force, and how it misbehaves.
std::vector<NetInterface> g_listing;
int g_calls = 0, g_shrinkAfterFirst = 0;  // interfaces that vanish after the first call
bool g_alwaysGrows = false, g_sawDetails = false;

int RecordedLister(NetInterface* out, int cap, bool details) {
  ++g_calls;
  g_sawDetails = details;
  int total = static_cast<int>(g_listing.size());
  if (g_calls > 1) total -= g_shrinkAfterFirst;
  if (g_alwaysGrows) total = cap + 1;
  for (int i = 0; i < total && i < cap; ++i) out[i] = g_listing[static_cast<std::size_t>(i % g_listing.size())];
  return total;
}

// Replaces the host's listing (and its /sys speeds) for the scope.
struct Recorded {
  kvtest::ScopedRecordedRoot root{std::string(KVOS_TEST_DATA_DIR) + "/osnet"};
  explicit Recorded(std::vector<NetInterface> listing) {
    g_listing = std::move(listing);
    g_calls = g_shrinkAfterFirst = 0;
    g_alwaysGrows = false;
    host::SetNetInterfaceLister(RecordedLister);
  }
  ~Recorded() { host::SetNetInterfaceLister(nullptr); }
};

struct Listing {
  tNetInterfaceInfo* list = nullptr;
  int count = osNetGetInterfaces(list);
  ~Listing() { delete[] list; }
};

// Nothing listed: 0 and a null list.
void ExpectNoInterfaces() {
  tNetInterfaceInfo* list = reinterpret_cast<tNetInterfaceInfo*>(0x1);
  EXPECT_TRUE(osNetGetInterfaces(list) == 0 && list == nullptr);
}

TEST(NetInterfaces, RecordedMachineWithEveryKind) {
  // In no particular order, as a host may give them. The speeds come from
  // the recorded /sys: eth1 has one but is down, ppp0 and gone0 (vanished
  // before its speed was asked) have none, slow0 says "unknown" (-1), wan0
  // has 10 Gbit/s.
  Recorded r({
      Record(5, "ppp0", host::kHwPpp, "10.64.0.7"),
      Record(3, "eth0", kEther, "192.168.1.20", true, "Uplink to core"),
      Record(1, "lo", kLoopback, "127.0.0.1"),
      Record(2, "eth1", kEther, "10.0.1.1", false),  // disconnected
      Record(4, "tun0", kTunnel, "10.8.0.1"),
      Record(6, "slow0", kEther, "172.16.0.1"),
      Record(8, "gone0", kEther, "10.0.3.1"),
      Record(7, "wan0", kEther, "10.0.2.1"),
  });
  struct {
    char const* name;
    char const* address;
    unsigned int flags, speed;
  } const expected[] = {{"eth1", "10.0.1.1", 0, 0},          {"Uplink to core", "192.168.1.20", 0, 1000000000},
                        {"ppp0", "10.64.0.7", 1, 0},         {"slow0", "172.16.0.1", 0, 0},
                        {"wan0", "10.0.2.1", 0, 0xFFFFFFFFu}, {"gone0", "10.0.3.1", 0, 0}};
  {
    Listing l;
    ASSERT_TRUE(l.count == 6 && g_sawDetails) << l.count;
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(std::make_tuple(std::string(l.list[i].name), l.list[i].address, l.list[i].flags, l.list[i].speed),
                std::make_tuple(std::string(expected[i].name), inet_addr(expected[i].address), expected[i].flags,
                                expected[i].speed));
  }
  {
    ScopedFault f("net.speed", ENODEV);
    Listing failing;  // only the first query fails
    ASSERT_EQ(failing.count, 6);
    EXPECT_TRUE(failing.list[1].speed == 0u && failing.list[4].speed == 0xFFFFFFFFu);
  }

  // The hardware address is that of the first Ethernet interface by index,
  // connected or not, and needs no descriptions.
  unsigned char mac[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_TRUE(osNetGetEtherMAC(mac) && std::memcmp(mac, "\x02\0\0\0\0\x02\xEE\xEE", 8) == 0 && !g_sawDetails);

  // Other lengths of hardware address: six bytes of them, or what there is.
  g_listing = {Record(2, "ib0", kEther, "10.0.0.1", true, "", {1, 2, 3, 4, 5, 6, 7, 8})};
  EXPECT_TRUE(osNetGetEtherMAC(mac) && std::memcmp(mac, "\1\2\3\4\5\6\xEE\xEE", 8) == 0);
  g_listing = {Record(2, "odd0", kEther, "10.0.0.1", true, "", {7, 7, 7, 7})};
  EXPECT_TRUE(osNetGetEtherMAC(mac) && std::memcmp(mac, "\7\7\7\7\5\6\xEE\xEE", 8) == 0);
}

TEST(NetInterfaces, ManyInterfacesInIndexOrder) {
  std::vector<NetInterface> many;
  for (int i = 40; i >= 1; --i)
    many.push_back(Record(i + 1, ("en" + std::to_string(i)).c_str(), i % 10 == 0 ? host::kHwPpp : kEther,
                          ("10.1.0." + std::to_string(i)).c_str()));
  many.push_back(Record(1, "lo", kLoopback, "127.0.0.1"));
  Recorded r(many);
  Listing l;
  ASSERT_EQ(l.count, 40);
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(std::make_tuple(std::string(l.list[i].name), l.list[i].address, l.list[i].flags),
              std::make_tuple("en" + std::to_string(i + 1), inet_addr(("10.1.0." + std::to_string(i + 1)).c_str()),
                              (i + 1) % 10 == 0 ? 1u : 0u));
  EXPECT_GE(g_calls, 2);  // the first room was too small
}

TEST(NetInterfaces, ListingsThatChangeWhileRead) {
  // Three at first, then one is gone.
  Recorded r({Record(2, "eth0", kEther, "10.0.0.1"), Record(3, "eth1", kEther, "10.0.0.2"),
              Record(4, "eth2", kEther, "10.0.0.3")});
  g_shrinkAfterFirst = 1;
  Listing shrunk;
  EXPECT_TRUE(shrunk.count == 2 && std::string(shrunk.list[1].name) == "eth1") << shrunk.count;
  // A listing that never settles: nothing, and nothing leaked.
  g_calls = 0;
  g_alwaysGrows = true;
  ExpectNoInterfaces();
  unsigned char mac[6] = {};
  EXPECT_TRUE(!osNetGetEtherMAC(mac) && g_calls <= 20) << g_calls;
}

// Nothing listed: nothing but loopback and tunnels, Ethernet without
// addresses, a failing host, no memory.
TEST(NetInterfaces, NothingToListOrAFailingHost) {
  Recorded r({Record(1, "lo", kLoopback, "127.0.0.1"), Record(2, "sit0", kTunnel, nullptr)});
  ExpectNoInterfaces();
  unsigned char mac[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_TRUE(!osNetGetEtherMAC(mac) && std::memcmp(mac, "\11\11\11\11\11\11", 6) == 0);
  g_listing = {Record(2, "eth0", kEther, nullptr), Record(3, "eth1", kEther, nullptr)};
  ExpectNoInterfaces();
  EXPECT_TRUE(osNetGetEtherMAC(mac) && !osNetGetEtherMAC(nullptr));  // no buffer: refused, not a crash

  host::SetNetInterfaceLister(nullptr);
  {
    ScopedFault f("net.list", EIO, 0, 2);
    ExpectNoInterfaces();
    EXPECT_FALSE(osNetGetEtherMAC(mac));
  }
  host::SetNetInterfaceLister(RecordedLister);
  g_listing = {Record(2, "eth0", kEther, "10.0.0.1")};
  // Memory gone before the host is asked: the pointer stays as it was.
  tNetInterfaceInfo* list = reinterpret_cast<tNetInterfaceInfo*>(0x1);
  {
    ScopedFault f("alloc", ENOMEM);
    EXPECT_TRUE(osNetGetInterfaces(list) == 0 && list == reinterpret_cast<tNetInterfaceInfo*>(0x1));
  }
  // Memory gone for the result.
  ScopedFault f("alloc", ENOMEM, 1);
  ExpectNoInterfaces();
}

// The live host: the hardware address is that of the lowest-indexed
// Ethernet interface that /sys describes.
TEST(NetInterfaces, LiveHostAgreesWithSys) {
  std::ifstream listing("/proc/net/dev");
  if (!listing) GTEST_SKIP() << "no /proc/net/dev on this machine";
  std::string line, bestMac = "none";
  int bestIndex = 1 << 30;
  std::getline(std::getline(listing, line), line);  // past the two heading lines
  while (std::getline(listing, line)) {
    std::string name = line.substr(0, line.find(':'));
    std::string dir = "/sys/class/net/" + name.erase(0, name.find_first_not_of(' ')) + "/";
    if (kvtest::ReadFile(dir + "type") != "1\n") continue;
    if (int index = std::stoi(kvtest::ReadFile(dir + "ifindex")); index < bestIndex) {
      bestIndex = index;
      bestMac = kvtest::ReadFile(dir + "address");
    }
  }
  unsigned char m[6] = {};
  char text[32] = "none";
  if (osNetGetEtherMAC(m))
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x\n", m[0], m[1], m[2], m[3], m[4], m[5]);
  EXPECT_EQ(text, bestMac);
  Listing l;
  for (int i = 0; i < l.count; ++i) EXPECT_NE(l.list[i].address, 0u);
}

}  // namespace
