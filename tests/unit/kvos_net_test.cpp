// kvos net as its users see it, on loopback.
#include <gtest/gtest.h>

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

}  // namespace
