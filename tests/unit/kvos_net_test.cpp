// kvos net as its users see it, on loopback and in a network namespace
// that the test makes itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/testing.h"

using kvtest::RunKvos;

namespace {

bool Has(std::string const& text, std::string const& part) { return text.find(part) != std::string::npos; }

TEST(KvosNet, DottedAddressesAndLookups) {
  auto ip = RunKvos({"net", "ip", "1.2.3.4.5"});
  EXPECT_EQ(ip.status, 0);
  EXPECT_EQ(ip.out, "address:  1.2.3.4\nconsumed: 8 of 9\n");
  auto cut = RunKvos({"net", "ip", "1.2.3.45", "7"});
  EXPECT_EQ(cut.status, 0);
  EXPECT_EQ(cut.out, "address:  1.2.3.4\nconsumed: 7 of 7\n");
  auto bad = RunKvos({"net", "ip", "256.1.1.1"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "address:  0.0.0.0\nconsumed: 2 of 9\n");
  EXPECT_EQ(RunKvos({"net", "ip", "1.2.3.4", "9"}).status, 2);
  EXPECT_EQ(RunKvos({"net", "ip"}).status, 2);

  auto res = RunKvos({"net", "resolve", "localhost"});
  EXPECT_EQ(res.status, 0);
  EXPECT_TRUE(Has(res.out, "127.0.0.1\n")) << res.out;
  auto none = RunKvos({"net", "resolve", "no-such-host.invalid"});
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(Has(none.err, "Failed to get address by host name [no-such-host.invalid]")) << none.err;
  EXPECT_EQ(RunKvos({"net", "resolve", std::string(300, 'x')}).status, 1);

  auto name = RunKvos({"net", "name", "127.0.0.1"});
  EXPECT_EQ(name.status, 0);
  EXPECT_FALSE(name.out.empty());
  EXPECT_EQ(RunKvos({"net", "name", "127.0.0"}).status, 2);
  EXPECT_EQ(RunKvos({"net", "frob"}).status, 2);
  EXPECT_EQ(RunKvos({"net", "--help"}).status, 0);
}

// A namespace with a veth pair (one end with an address and an alias, the
// other without) and a dummy interface without address.
class Namespace {
 public:
  Namespace() : _name("kvtest" + std::to_string(getpid())) {
    if (geteuid() != 0) {
      _why = "needs root to make a network namespace";
      return;
    }
    if (Sh("ip netns add " + _name) != 0) {
      _why = "this machine cannot make network namespaces";
      return;
    }
    _made = true;
    std::string in = "ip netns exec " + _name + " ";
    if (Sh(in + "ip link add veth-a type veth peer name veth-b") != 0 ||
        Sh(in + "ip link set veth-a address 02:00:5e:10:20:30") != 0 ||
        Sh(in + "ip link set veth-b address 02:00:5e:10:20:31") != 0 ||
        Sh(in + "ip link set veth-a alias 'Test uplink'") != 0 ||
        Sh(in + "ip addr add 10.99.0.1/24 dev veth-a") != 0 || Sh(in + "ip addr add 10.99.0.9/24 dev veth-a") != 0 ||
        Sh(in + "ip link set veth-a up") != 0 || Sh(in + "ip link set veth-b up") != 0) {
      _why = "this machine cannot make veth pairs in a namespace";
      return;
    }
    _ready = true;
  }
  ~Namespace() {
    if (_made) Sh("ip netns del " + _name);
  }
  bool Ready() const { return _ready; }
  std::string const& Why() const { return _why; }
  std::string const& Name() const { return _name; }
  static int Sh(std::string const& command) { return kvtest::Run({"/bin/sh", "-c", command + " >/dev/null 2>&1"}).status; }
  int Index(std::string const& link) const {
    auto r = kvtest::Run({"ip", "netns", "exec", _name, "cat", "/sys/class/net/" + link + "/ifindex"});
    return r.status == 0 ? std::stoi(r.out) : -1;
  }

 private:
  std::string _name, _why;
  bool _made = false, _ready = false;
};

TEST(KvosNet, InterfacesOfAMadeNamespace) {
  if (Namespace::Sh("command -v ip") != 0) GTEST_SKIP() << "the ip command (iproute2) is not installed";
  Namespace ns;
  if (!ns.Ready()) GTEST_SKIP() << ns.Why();
  auto r = kvtest::Run({"ip", "netns", "exec", ns.Name(), KVOS_TOOL_PATH, "net", "if"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The address is that of the veth end with the lower index (loopback is
  // left out); veth-b has no address and is not listed. veth links report
  // 10 Gbit/s.
  bool aFirst = ns.Index("veth-a") < ns.Index("veth-b");
  char const* expected = aFirst ? "Ethernet address: 02:00:5e:10:20:30\n"
                                   "1 interface\n"
                                   "  Test uplink              10.99.0.1       ethernet >= 4.3 Gbit/s\n"
                                 : "Ethernet address: 02:00:5e:10:20:31\n"
                                   "1 interface\n"
                                   "  Test uplink              10.99.0.1       ethernet >= 4.3 Gbit/s\n";
  EXPECT_EQ(r.out, expected) << r.out;

  // No recorded name for an address, asked where no name server is
  // reachable.
  auto unnamed = kvtest::Run({"ip", "netns", "exec", ns.Name(), KVOS_TOOL_PATH, "net", "name", "192.0.2.77"});
  EXPECT_EQ(unnamed.status, 1);
  EXPECT_TRUE(Has(unnamed.err, "no host name is recorded for 192.0.2.77")) << unnamed.err;

  // With the link down the speed is unknown; an empty namespace lists nothing.
  Namespace::Sh("ip netns exec " + ns.Name() + " ip link set veth-b down");
  auto down = kvtest::Run({"ip", "netns", "exec", ns.Name(), KVOS_TOOL_PATH, "net", "if"});
  EXPECT_TRUE(Has(down.out, "10.99.0.1       ethernet unknown")) << down.out;
  Namespace::Sh("ip netns exec " + ns.Name() + " ip link del veth-a");
  auto empty = kvtest::Run({"ip", "netns", "exec", ns.Name(), KVOS_TOOL_PATH, "net", "if"});
  EXPECT_EQ(empty.out, "Ethernet address: none\n0 interfaces\n");
}

}  // namespace
