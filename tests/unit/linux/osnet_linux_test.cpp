// Interfaces as the kernel lists them and /sys describes them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "OS/host/net.h"
#include "OS/osnet.h"
#include "support/testing.h"

using namespace Korvane;

namespace {

host::NetInterface Named(char const* name) {
  host::NetInterface r{};
  std::snprintf(r.name, sizeof r.name, "%s", name);
  return r;
}

// Speeds in Mbit/s from recorded /sys files: "-1" is unknown, a missing
// file an interface that has gone.
TEST(NetInterfacesLinux, SpeedsFromSys) {
  kvtest::ScopedRecordedRoot root(std::string(KVOS_TEST_DATA_DIR) + "/osnet");
  struct {
    char const* name;
    bool known;
    unsigned long long bits;
  } const cases[] = {{"eth0", true, 1000000000ULL},
                     {"eth1", true, 100000000ULL},
                     {"wan0", true, 10000000000ULL},
                     {"slow0", false, 0},
                     {"gone0", false, 0}};
  for (auto const& c : cases) {
    unsigned long long bits = 7;
    EXPECT_EQ(host::NetInterfaceSpeed(Named(c.name), bits), c.known) << c.name;
    EXPECT_EQ(bits, c.known ? c.bits : 7ULL) << c.name;
  }
  kvtest::ScopedFault f("net.speed", 19);
  unsigned long long bits = 7;
  EXPECT_TRUE(!host::NetInterfaceSpeed(Named("eth0"), bits) && bits == 7);
}

// The live host: the hardware address is that of the lowest-indexed
// Ethernet interface that /sys describes.
TEST(NetInterfacesLinux, LiveHostAgreesWithSys) {
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
  tNetInterfaceInfo* list = nullptr;
  int count = osNetGetInterfaces(list);
  for (int i = 0; i < count; ++i) EXPECT_NE(list[i].address, 0u);
  delete[] list;
}

}  // namespace
