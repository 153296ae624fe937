// kvos net as its users see it, on loopback and in a network namespace
// that the test makes itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/testing.h"

using kvtest::RunKvos;

namespace {

bool Has(std::string const& text, std::string const& part) { return text.find(part) != std::string::npos; }

TEST(KvosNet, DottedAddressesAndLookups) {
  auto net = [](std::vector<std::string> args, int status, char const* out = nullptr) {
    args.insert(args.begin(), "net");
    auto r = RunKvos(args);
    EXPECT_EQ(r.status, status) << args[1];
    EXPECT_TRUE(out == nullptr || r.out == out) << r.out;
    return r;
  };
  net({"ip", "1.2.3.4.5"}, 0, "address:  1.2.3.4\nconsumed: 8 of 9\n");
  net({"ip", "1.2.3.45", "7"}, 0, "address:  1.2.3.4\nconsumed: 7 of 7\n");
  net({"ip", "256.1.1.1"}, 1, "address:  0.0.0.0\nconsumed: 2 of 9\n");
  for (auto const& bad : {std::vector<std::string>{"ip", "1.2.3.4", "9"}, {"ip"}, {"name", "127.0.0"}, {"frob"}})
    net(bad, 2, "");
  EXPECT_TRUE(Has(net({"resolve", "localhost"}, 0).out, "127.0.0.1\n"));
  // The library's record, then the resolver's reason in its own words.
  auto none = net({"resolve", "no-such-host.invalid"}, 1);
  std::size_t second = none.err.find('\n') + 1;
  std::string const record = "kvos net: Failed to get address by host name [no-such-host.invalid]. WSAGetLastError()=";
  EXPECT_EQ(none.err.rfind(record, 0), 0u) << none.err;
  EXPECT_EQ(none.err.compare(second, std::string::npos, "kvos net: the resolver says: Name or service not known\n"), 0)
      << none.err;
  EXPECT_FALSE(net({"name", "127.0.0.1"}, 0).out.empty());
}

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
