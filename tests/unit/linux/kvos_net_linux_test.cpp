// kvos net in a network namespace that the test makes itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/testing.h"

using kvtest::RunKvos;

namespace {

bool Has(std::string const& text, std::string const& part) { return text.find(part) != std::string::npos; }

int Sh(std::string const& command) { return kvtest::Run({"/bin/sh", "-c", command + " >/dev/null 2>&1"}).status; }

// A namespace with a veth pair: one end with two addresses and an alias,
// the other without address.
struct Namespace {
  std::string name = "kvtest" + std::to_string(getpid()), why;
  bool made = false;
  Namespace() {
    if (geteuid() != 0) {
      why = "needs root to make a network namespace";
    } else if (!(made = Sh("ip netns add " + name) == 0)) {
      why = "this machine cannot make network namespaces";
    } else if (In("ip link add veth-a type veth peer name veth-b", "ip link set veth-a address 02:00:5e:10:20:30",
                  "ip link set veth-b address 02:00:5e:10:20:31", "ip link set veth-a alias 'Test uplink'",
                  "ip addr add 10.99.0.1/24 dev veth-a", "ip addr add 10.99.0.9/24 dev veth-a",
                  "ip link set veth-a up", "ip link set veth-b up") != 0) {
      why = "this machine cannot make veth pairs in a namespace";
    }
  }
  ~Namespace() { if (made) Sh("ip netns del " + name); }
  // Runs the commands one after the other inside, while they succeed.
  template <class... C>
  int In(C... commands) const {
    std::string all = "true";
    ((all += " && ip netns exec " + name + " " + commands), ...);
    return Sh(all);
  }
  kvtest::RunResult Kvos(std::vector<std::string> args) const {
    args.insert(args.begin(), {"ip", "netns", "exec", name, KVOS_TOOL_PATH, "net"});
    return kvtest::Run(args);
  }
  int Index(std::string const& link) const {
    auto r = kvtest::Run({"ip", "netns", "exec", name, "cat", "/sys/class/net/" + link + "/ifindex"});
    return r.status == 0 ? std::stoi(r.out) : -1;
  }
};

TEST(KvosNet, InterfacesOfAMadeNamespace) {
  if (Sh("command -v ip") != 0) GTEST_SKIP() << "the ip command (iproute2) is not installed";
  Namespace ns;
  if (!ns.why.empty()) GTEST_SKIP() << ns.why;
  auto r = ns.Kvos({"if"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The address is that of the veth end with the lower index (loopback is
  // left out); veth-b has no address and is not listed. veth links report
  // 10 Gbit/s.
  std::string expected = std::string("Ethernet address: 02:00:5e:10:20:3") +
                         (ns.Index("veth-a") < ns.Index("veth-b") ? "0" : "1") +
                         "\n1 interface\n"
                         "  Test uplink              10.99.0.1       ethernet >= 4.3 Gbit/s\n";
  EXPECT_EQ(r.out, expected) << r.out;

  // No recorded name for an address, asked where no name server is
  // reachable.
  auto unnamed = ns.Kvos({"name", "192.0.2.77"});
  EXPECT_TRUE(unnamed.status == 1 && Has(unnamed.err, "no host name is recorded for 192.0.2.77")) << unnamed.err;

  // With the link down the speed is unknown; an empty namespace lists nothing.
  ns.In("ip link set veth-b down");
  EXPECT_TRUE(Has(ns.Kvos({"if"}).out, "10.99.0.1       ethernet unknown"));
  ns.In("ip link del veth-a");
  EXPECT_EQ(ns.Kvos({"if"}).out, "Ethernet address: none\n0 interfaces\n");
}

}  // namespace
