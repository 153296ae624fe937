#include "OS/osnet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "OS/host/net.h"
#include "support/testing.h"
#include "unit/ossocket_helpers.h"

using namespace Korvane;
using Korvane::host::NetInterface;
using Korvane::host::NetKind;
using kvtest::ScopedFault;
using nettest::Addr;

namespace {

constexpr NetKind kOther = NetKind::kOther;  // loopback, tunnels, wireless
constexpr NetKind kEther = NetKind::kEthernet;
constexpr NetKind kPpp = NetKind::kPpp;

// `order` is the host's adapter order; the index differs from it.
NetInterface Record(int order, char const* name, NetKind kind, char const* ipv4, bool running = true,
                    char const* alias = "", std::vector<unsigned char> hw = {}) {
  NetInterface r{};
  r.order = order;
  r.index = 100 - order;
  std::snprintf(r.name, sizeof r.name, "%s", name);
  std::snprintf(r.alias, sizeof r.alias, "%s", alias);
  r.kind = kind;
  if (hw.empty() && kind == kEther) hw = {0x02, 0, 0, 0, 0, static_cast<unsigned char>(order)};
  r.hwLength = static_cast<unsigned int>(hw.size());
  if (!hw.empty()) std::memcpy(r.hw, hw.data(), hw.size());
  r.ipv4 = ipv4 != nullptr ? Addr(ipv4) : 0;
  r.running = running;
  return r;
}

// Recorded speeds in bits per second, by name; a name without one has
// none, and "gone0" vanished before it was asked.
std::map<std::string, unsigned long long> const g_speeds = {
    {"eth0", 1000000000ULL}, {"eth1", 100000000ULL}, {"wan0", 10000000000ULL}, {"exact0", 4294967295ULL},
    {"over0", 4294967296ULL}};
std::vector<std::string> g_speedAsked;

bool RecordedSpeed(NetInterface const& r, unsigned long long& bits) {
  g_speedAsked.push_back(r.name);
  auto it = g_speeds.find(r.name);
  if (it == g_speeds.end()) return false;
  bits = it->second;
  return true;
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

// Replaces the host's listing and speeds for the scope.
struct Recorded {
  explicit Recorded(std::vector<NetInterface> listing) {
    g_listing = std::move(listing);
    g_calls = g_shrinkAfterFirst = 0;
    g_alwaysGrows = false;
    g_speedAsked.clear();
    host::SetNetInterfaceLister(RecordedLister);
    host::SetNetSpeedReader(RecordedSpeed);
  }
  ~Recorded() {
    host::SetNetInterfaceLister(nullptr);
    host::SetNetSpeedReader(nullptr);
  }
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
  // In no particular order, as a host may give them. eth1 has a speed but
  // is down, ppp0, slow0 and gone0 have none, wan0 has more than 32 bits
  // hold.
  Recorded r({
      Record(5, "ppp0", kPpp, "10.64.0.7"),
      Record(3, "eth0", kEther, "192.168.1.20", true, "Uplink to core"),
      Record(1, "lo", kOther, "127.0.0.1"),
      Record(2, "eth1", kEther, "10.0.1.1", false),  // disconnected
      Record(4, "tun0", kOther, "10.8.0.1"),
      Record(6, "slow0", kEther, "172.16.0.1"),
      Record(10, "gone0", kEther, "10.0.3.1"),
      Record(7, "wan0", kEther, "10.0.2.1"),
      Record(8, "exact0", kEther, "10.0.4.1"),
      Record(9, "over0", kEther, "10.0.5.1"),
  });
  struct {
    char const* name;
    char const* address;
    unsigned int flags, speed;
  } const expected[] = {{"eth1", "10.0.1.1", 0, 0},           {"Uplink to core", "192.168.1.20", 0, 1000000000},
                        {"ppp0", "10.64.0.7", 1, 0},          {"slow0", "172.16.0.1", 0, 0},
                        {"wan0", "10.0.2.1", 0, 0xFFFFFFFFu}, {"exact0", "10.0.4.1", 0, 0xFFFFFFFFu},
                        {"over0", "10.0.5.1", 0, 0xFFFFFFFFu}, {"gone0", "10.0.3.1", 0, 0}};
  {
    Listing l;
    ASSERT_TRUE(l.count == 8 && g_sawDetails) << l.count;
    for (int i = 0; i < 8; ++i)
      EXPECT_EQ(std::make_tuple(std::string(l.list[i].name), l.list[i].address, l.list[i].flags, l.list[i].speed),
                std::make_tuple(std::string(expected[i].name), Addr(expected[i].address), expected[i].flags,
                                expected[i].speed));
    // A link that is down is not asked for its speed; the others are, by
    // their record.
    EXPECT_EQ(std::count(g_speedAsked.begin(), g_speedAsked.end(), "eth1"), 0);
    EXPECT_EQ(std::count(g_speedAsked.begin(), g_speedAsked.end(), "wan0"), 1);
  }
  {
    ScopedFault f("net.speed", 19);
    host::SetNetSpeedReader(nullptr);  // the host's reader passes the fault point
    Listing failing;                   // every query fails: no speeds, all listed
    ASSERT_EQ(failing.count, 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(failing.list[i].speed, 0u);
    host::SetNetSpeedReader(RecordedSpeed);
  }

  // The hardware address is that of the first Ethernet interface in the
  // host's order, connected or not, and needs no descriptions.
  unsigned char mac[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_TRUE(osNetGetEtherMAC(mac) && std::memcmp(mac, "\x02\0\0\0\0\x02\xEE\xEE", 8) == 0 && !g_sawDetails);

  // Other lengths of hardware address: six bytes of them, or what there is.
  g_listing = {Record(2, "ib0", kEther, "10.0.0.1", true, "", {1, 2, 3, 4, 5, 6, 7, 8})};
  EXPECT_TRUE(osNetGetEtherMAC(mac) && std::memcmp(mac, "\1\2\3\4\5\6\xEE\xEE", 8) == 0);
  g_listing = {Record(2, "odd0", kEther, "10.0.0.1", true, "", {7, 7, 7, 7})};
  EXPECT_TRUE(osNetGetEtherMAC(mac) && std::memcmp(mac, "\7\7\7\7\5\6\xEE\xEE", 8) == 0);
}

TEST(NetInterfaces, ManyInterfacesInTheHostsOrder) {
  std::vector<NetInterface> many;
  for (int i = 40; i >= 1; --i)
    many.push_back(Record(i + 1, ("en" + std::to_string(i)).c_str(), i % 10 == 0 ? kPpp : kEther,
                          ("10.1.0." + std::to_string(i)).c_str()));
  many.push_back(Record(1, "lo", kOther, "127.0.0.1"));
  Recorded r(many);
  Listing l;
  ASSERT_EQ(l.count, 40);
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(std::make_tuple(std::string(l.list[i].name), l.list[i].address, l.list[i].flags),
              std::make_tuple("en" + std::to_string(i + 1), Addr(("10.1.0." + std::to_string(i + 1)).c_str()),
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
  Recorded r({Record(1, "lo", kOther, "127.0.0.1"), Record(2, "sit0", kOther, nullptr)});
  ExpectNoInterfaces();
  unsigned char mac[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_TRUE(!osNetGetEtherMAC(mac) && std::memcmp(mac, "\11\11\11\11\11\11", 6) == 0);
  g_listing = {Record(2, "eth0", kEther, nullptr), Record(3, "eth1", kEther, nullptr)};
  ExpectNoInterfaces();
  EXPECT_TRUE(osNetGetEtherMAC(mac) && !osNetGetEtherMAC(nullptr));  // no buffer: refused, not a crash

  host::SetNetInterfaceLister(nullptr);
  {
    ScopedFault f("net.list", 5, 0, 2);
    ExpectNoInterfaces();
    EXPECT_FALSE(osNetGetEtherMAC(mac));
  }
  host::SetNetInterfaceLister(RecordedLister);
  g_listing = {Record(2, "eth0", kEther, "10.0.0.1")};
  // Memory gone before the host is asked: the pointer stays as it was.
  tNetInterfaceInfo* list = reinterpret_cast<tNetInterfaceInfo*>(0x1);
  {
    ScopedFault f("alloc", 12);
    EXPECT_TRUE(osNetGetInterfaces(list) == 0 && list == reinterpret_cast<tNetInterfaceInfo*>(0x1));
  }
  // Memory gone for the result.
  ScopedFault f("alloc", 12, 1);
  ExpectNoInterfaces();
}

}  // namespace
