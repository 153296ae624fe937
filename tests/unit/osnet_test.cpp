#include "OS/osnet.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "OS/host/net.h"
#include "support/testing.h"

using namespace Korvane;
using Korvane::host::NetInterface;
using kvtest::ScopedFault;

namespace {

constexpr int kLoopback = 772;
constexpr int kTunnel = 65534;

NetInterface Record(int index, char const* name, int type, char const* ipv4, bool running = true,
                    char const* alias = "", std::vector<unsigned char> hw = {}) {
  NetInterface r;
  std::memset(&r, 0, sizeof r);
  r.index = index;
  std::snprintf(r.name, sizeof r.name, "%s", name);
  std::snprintf(r.alias, sizeof r.alias, "%s", alias);
  r.hwType = type;
  if (hw.empty() && type == host::kHwEthernet) hw = {0x02, 0, 0, 0, 0, static_cast<unsigned char>(index)};
  r.hwLength = static_cast<unsigned int>(hw.size());
  if (!hw.empty()) std::memcpy(r.hw, hw.data(), hw.size());
  r.ipv4 = ipv4 != nullptr ? inet_addr(ipv4) : 0;
  r.running = running;
  return r;
}

// The recorded listing in force, and how it misbehaves.
std::vector<NetInterface> g_listing;
int g_calls = 0;
int g_shrinkAfterFirst = 0;  // interfaces that vanish after the first call
bool g_alwaysGrows = false;
bool g_sawDetails = false;

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
    g_calls = 0;
    g_shrinkAfterFirst = 0;
    g_alwaysGrows = false;
    host::SetNetInterfaceLister(RecordedLister);
  }
  ~Recorded() { host::SetNetInterfaceLister(nullptr); }
};

struct Listing {
  tNetInterfaceInfo* list = nullptr;
  int count = 0;
  Listing() { count = osNetGetInterfaces(list); }
  ~Listing() { delete[] list; }
};

TEST(NetInterfaces, RecordedMachineWithEveryKind) {
  // In no particular order, as a host may give them.
  Recorded r({
      Record(5, "ppp0", host::kHwPpp, "10.64.0.7", true, "", {}),
      Record(3, "eth0", host::kHwEthernet, "192.168.1.20", true, "Uplink to core"),
      Record(1, "lo", kLoopback, "127.0.0.1"),
      Record(2, "eth1", host::kHwEthernet, nullptr, false),  // disconnected
      Record(4, "tun0", kTunnel, "10.8.0.1"),
      Record(6, "slow0", host::kHwEthernet, "172.16.0.1", true),
  });
  Listing l;
  ASSERT_EQ(l.count, 3);
  EXPECT_TRUE(g_sawDetails);
  EXPECT_STREQ(l.list[0].name, "Uplink to core");
  EXPECT_EQ(l.list[0].address, inet_addr("192.168.1.20"));
  EXPECT_EQ(l.list[0].flags, 0u);
  EXPECT_EQ(l.list[0].speed, 1000000000u);
  EXPECT_STREQ(l.list[1].name, "ppp0");
  EXPECT_EQ(l.list[1].address, inet_addr("10.64.0.7"));
  EXPECT_EQ(l.list[1].flags, 1u);
  EXPECT_EQ(l.list[1].speed, 0u);  // the host knows no speed for it
  EXPECT_STREQ(l.list[2].name, "slow0");
  EXPECT_EQ(l.list[2].speed, 0u);  // the host says "unknown" (-1)

  // The hardware address is that of the first Ethernet interface by index,
  // connected or not.
  unsigned char mac[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  ASSERT_TRUE(osNetGetEtherMAC(mac));
  unsigned char const expected[8] = {0x02, 0, 0, 0, 0, 2, 0xEE, 0xEE};
  EXPECT_EQ(std::memcmp(mac, expected, 8), 0);
  EXPECT_FALSE(g_sawDetails);  // the address needs no descriptions
}

TEST(NetInterfaces, SpeedsFollowTheLink) {
  Recorded r({
      Record(2, "eth0", host::kHwEthernet, "10.0.0.1", true),
      Record(3, "eth1", host::kHwEthernet, "10.0.1.1", false),  // down: no speed
      Record(4, "wan0", host::kHwEthernet, "10.0.2.1", true),   // 10 Gbit/s
      Record(5, "gone0", host::kHwEthernet, "10.0.3.1", true),  // vanished before its speed was asked
  });
  Listing l;
  ASSERT_EQ(l.count, 4);
  EXPECT_EQ(l.list[0].speed, 1000000000u);
  EXPECT_EQ(l.list[1].speed, 0u);
  EXPECT_EQ(l.list[2].speed, 0xFFFFFFFFu);
  EXPECT_STREQ(l.list[3].name, "gone0");
  EXPECT_EQ(l.list[3].speed, 0u);
  {
    ScopedFault f("net.speed", ENODEV);
    Listing failing;
    ASSERT_EQ(failing.count, 4);
    EXPECT_EQ(failing.list[0].speed, 0u);
    EXPECT_EQ(failing.list[2].speed, 0xFFFFFFFFu);  // only the first query failed
  }
}

TEST(NetInterfaces, NothingToList) {
  Recorded r({Record(1, "lo", kLoopback, "127.0.0.1"), Record(2, "sit0", kTunnel, nullptr)});
  tNetInterfaceInfo* list = reinterpret_cast<tNetInterfaceInfo*>(0x1);
  EXPECT_EQ(osNetGetInterfaces(list), 0);
  EXPECT_EQ(list, nullptr);
  unsigned char mac[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_FALSE(osNetGetEtherMAC(mac));
  for (unsigned char b : mac) EXPECT_EQ(b, 9);

  // Ethernet without addresses only.
  g_listing = {Record(2, "eth0", host::kHwEthernet, nullptr), Record(3, "eth1", host::kHwEthernet, nullptr)};
  list = reinterpret_cast<tNetInterfaceInfo*>(0x1);
  EXPECT_EQ(osNetGetInterfaces(list), 0);
  EXPECT_EQ(list, nullptr);
  EXPECT_TRUE(osNetGetEtherMAC(mac));
}

TEST(NetInterfaces, ManyInterfacesInIndexOrder) {
  std::vector<NetInterface> many;
  for (int i = 40; i >= 1; --i) {
    std::string name = "en" + std::to_string(i);
    std::string ip = "10.1.0." + std::to_string(i);
    many.push_back(Record(i + 1, name.c_str(), i % 10 == 0 ? host::kHwPpp : host::kHwEthernet, ip.c_str()));
  }
  many.push_back(Record(1, "lo", kLoopback, "127.0.0.1"));
  Recorded r(many);
  Listing l;
  ASSERT_EQ(l.count, 40);
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(std::string(l.list[i].name), "en" + std::to_string(i + 1));
    EXPECT_EQ(l.list[i].address, inet_addr(("10.1.0." + std::to_string(i + 1)).c_str()));
    EXPECT_EQ(l.list[i].flags, (i + 1) % 10 == 0 ? 1u : 0u);
  }
  EXPECT_GE(g_calls, 2);  // the first room was too small
}

TEST(NetInterfaces, ListingsThatChangeWhileRead) {
  // Three at first, then one is gone.
  Recorded r({Record(2, "eth0", host::kHwEthernet, "10.0.0.1"), Record(3, "eth1", host::kHwEthernet, "10.0.0.2"),
              Record(4, "eth2", host::kHwEthernet, "10.0.0.3")});
  g_shrinkAfterFirst = 1;
  {
    Listing l;
    ASSERT_EQ(l.count, 2);
    EXPECT_STREQ(l.list[1].name, "eth1");
  }
  // A listing that never settles: nothing, and nothing leaked.
  g_calls = 0;
  g_alwaysGrows = true;
  tNetInterfaceInfo* list = reinterpret_cast<tNetInterfaceInfo*>(0x1);
  EXPECT_EQ(osNetGetInterfaces(list), 0);
  EXPECT_EQ(list, nullptr);
  unsigned char mac[6] = {};
  EXPECT_FALSE(osNetGetEtherMAC(mac));
  EXPECT_LE(g_calls, 20);
}

TEST(NetInterfaces, HardwareAddressLengths) {
  Recorded r({Record(2, "ib0", host::kHwEthernet, "10.0.0.1", true, "", {1, 2, 3, 4, 5, 6, 7, 8})});
  unsigned char mac[8] = {0, 0, 0, 0, 0, 0, 0xAA, 0xAA};
  ASSERT_TRUE(osNetGetEtherMAC(mac));
  unsigned char const six[8] = {1, 2, 3, 4, 5, 6, 0xAA, 0xAA};
  EXPECT_EQ(std::memcmp(mac, six, 8), 0);

  g_listing = {Record(2, "odd0", host::kHwEthernet, "10.0.0.1", true, "", {7, 7, 7, 7})};
  unsigned char shortMac[6] = {0, 0, 0, 0, 0xBB, 0xBB};
  ASSERT_TRUE(osNetGetEtherMAC(shortMac));
  unsigned char const four[6] = {7, 7, 7, 7, 0xBB, 0xBB};
  EXPECT_EQ(std::memcmp(shortMac, four, 6), 0);
}

TEST(NetInterfaces, FailingHostAndMemory) {
  Recorded r({Record(2, "eth0", host::kHwEthernet, "10.0.0.1")});
  tNetInterfaceInfo* list = reinterpret_cast<tNetInterfaceInfo*>(0x1);
  host::SetNetInterfaceLister(nullptr);
  {
    ScopedFault f("net.list", EIO, 0, 2);
    EXPECT_EQ(osNetGetInterfaces(list), 0);
    EXPECT_EQ(list, nullptr);
    unsigned char mac[6] = {};
    EXPECT_FALSE(osNetGetEtherMAC(mac));
  }
  host::SetNetInterfaceLister(RecordedLister);
  // Memory gone before the host is asked: the pointer stays as it was.
  {
    ScopedFault f("alloc", ENOMEM);
    list = reinterpret_cast<tNetInterfaceInfo*>(0x1);
    EXPECT_EQ(osNetGetInterfaces(list), 0);
    EXPECT_EQ(list, reinterpret_cast<tNetInterfaceInfo*>(0x1));
  }
  // Memory gone for the result.
  {
    ScopedFault f("alloc", ENOMEM, 1);
    EXPECT_EQ(osNetGetInterfaces(list), 0);
    EXPECT_EQ(list, nullptr);
  }
}

// The live host: the hardware address is that of the lowest-indexed
// Ethernet interface that /sys describes.
TEST(NetInterfaces, LiveHostAgreesWithSys) {
  std::ifstream listing("/proc/net/dev");
  if (!listing) GTEST_SKIP() << "no /proc/net/dev on this machine";
  std::string line;
  int bestIndex = 1 << 30;
  std::string bestMac;
  std::getline(listing, line);
  std::getline(listing, line);
  std::vector<std::string> ethernet;
  while (std::getline(listing, line)) {
    std::string name = line.substr(0, line.find(':'));
    name.erase(0, name.find_first_not_of(' '));
    std::string dir = "/sys/class/net/" + name + "/";
    if (kvtest::ReadFile(dir + "type") != "1\n") continue;
    ethernet.push_back(name);
    int index = std::stoi(kvtest::ReadFile(dir + "ifindex"));
    if (index < bestIndex) {
      bestIndex = index;
      bestMac = kvtest::ReadFile(dir + "address");
    }
  }
  unsigned char mac[6] = {};
  bool found = osNetGetEtherMAC(mac);
  EXPECT_EQ(found, !ethernet.empty());
  if (found) {
    char text[32];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x\n", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    EXPECT_EQ(text, bestMac);
  }
  Listing l;
  for (int i = 0; i < l.count; ++i) EXPECT_NE(l.list[i].address, 0u);
}

}  // namespace
