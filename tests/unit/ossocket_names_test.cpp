#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "ossocket_helpers.h"
#include "support/testing.h"

using namespace Korvane;
using namespace nettest;
using kvtest::ScopedFault;

namespace {

// The text in a block of exactly its length (with its NUL when the length
// is 0), so that the address sanitizer sees any look past it.
struct Parse {
  unsigned int address;
  unsigned int consumed;
};
Parse Ip(std::string const& text, unsigned int length) {
  std::vector<char> block(text.c_str(), text.c_str() + text.size() + (length == 0));
  Parse p{0xDEADBEEF, 12345};
  p.address = IsIp4Address(block.data(), length, &p.consumed);
  return p;
}

TEST(Ip4Address, AcceptsAndConsumesAsDocumented) {
  struct Case {
    char const* text;
    unsigned int length;  // 0: up to the NUL
    char const* address;  // null: 0
    unsigned int consumed;
  } const cases[] = {
      {"192.168.1.20", 0, "192.168.1.20", 12}, {"1.2.3.4", 0, "1.2.3.4", 7}, {"1.2.3.4.", 0, "1.2.3.4", 8},
      {"1.2.3.4.5", 0, "1.2.3.4", 8}, {"1.2.3.4..", 0, "1.2.3.4", 8}, {"1.2.3", 0, nullptr, 5},
      {"1.2.3.", 0, nullptr, 6}, {"1.2.3.4x", 0, nullptr, 7}, {"256.1.1.1", 0, nullptr, 2}, {"1..2.3", 0, nullptr, 2},
      {" 1.2.3.4", 0, nullptr, 0}, {"-1.2.3.4", 0, nullptr, 0}, {".1.2.3.4", 0, nullptr, 0},
      {"010.0001.00000000255.7", 0, "10.1.255.7", 22}, {"255.255.255.255", 0, "255.255.255.255", 15},
      {"1.2.3.2550", 0, nullptr, 9}, {"1.2.3.4 ", 0, nullptr, 7}, {"\xb1.2.3.4", 0, nullptr, 0},
      {"1.2.3.\xb4", 0, nullptr, 6},
      {"0.0.0.0", 0, "0.0.0.0", 7},  // accepted, though it reads like a rejection
      // The given length is all that is looked at; a length past the text
      // makes the NUL a character, which rejects.
      {"1.2.3.45", 7, "1.2.3.4", 7}, {"1.2.3", 5, nullptr, 5}, {"1.2.3.4", 8, nullptr, 7},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.text);
    Parse p = Ip(std::string(c.text, std::max<std::size_t>(std::strlen(c.text), c.length)), c.length);
    EXPECT_EQ(std::make_pair(p.address, p.consumed), std::make_pair(c.address ? Addr(c.address) : 0u, c.consumed));
  }
  // Null and empty texts: 0, the count untouched.
  unsigned int consumed = 99;
  EXPECT_TRUE(IsIp4Address(nullptr, 5, &consumed) == 0 && IsIp4Address("", 0, &consumed) == 0 && consumed == 99);
  EXPECT_TRUE(IsIp4Address("9.8.7.6", 0, nullptr) == Addr("9.8.7.6") && IsIp4Address("1.2", 0, nullptr) == 0);
}

// Random dotted texts: whatever the host's strict parser accepts, this one
// accepts with the same value and the whole length consumed; and no text
// of any bytes, cut at any length, is read past its length.
TEST(Ip4Address, AgreesWithTheHostParserAndStaysInBounds) {
  std::mt19937 rng(42);
  char const alphabet[] = "0123456789..........x \x80\xff";
  int agreed = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (int k = 0; i % 2 == 0 && k < 4; ++k) text += (k > 0 ? "." : "") + std::to_string(rng() % 300);
    for (unsigned n = i % 2 == 0 ? 0 : rng() % 20; n > 0; --n) text += alphabet[rng() % (sizeof alphabet - 1)];
    unsigned int host = 0;
    if (HostParse(text.c_str(), host)) {
      Parse p = Ip(text, static_cast<unsigned int>(text.size()));
      ASSERT_EQ(std::make_pair(p.address, p.consumed), std::make_pair(host, unsigned(text.size()))) << text;
      ++agreed;
    }
    for (unsigned int len = 1; i % 50 == 0 && len <= text.size(); ++len)
      ASSERT_LE(Ip(text.substr(0, len), len).consumed, len) << text;
  }
  EXPECT_GT(agreed, 1000);

  // Every byte value at every place of a good address: only digits can
  // keep it, and nothing is read past the length.
  std::string const good = "192.168.1.20";
  for (std::size_t at = 0; at < good.size(); ++at)
    for (int b = 1; b < 256; ++b) {
      std::string text = good;
      text[at] = static_cast<char>(b);
      Parse p = Ip(text, static_cast<unsigned int>(text.size()));
      ASSERT_LE(p.consumed, text.size());
      ASSERT_TRUE(p.address == 0 || text.find_first_not_of("0123456789.") == std::string::npos) << text;
    }
}

TEST(HostNames, LocalNameAndAddresses) {
  EXPECT_EQ(std::string(osGetHostName()), HostNameOfHost());
  {
    ScopedFault f("sock.hostname", 63);
    EXPECT_STREQ(osGetHostName(), "localhost");
  }
  unsigned int count = 77;
  unsigned int* addresses = osGetHostAddr(count);
  ASSERT_TRUE(addresses != nullptr && count >= 1);
  ::operator delete(addresses);

  // A host that cannot resolve its own name, or whose answer cannot be
  // copied, still gives the loopback.
  for (char const* point : {"sock.resolve", "alloc"}) {
    SCOPED_TRACE(point);
    ScopedFault f(point, point[0] == 'a' ? 12 : HostSockError(SockErr::kNameNotFound), point[0] == 'a' ? 1 : 0);
    addresses = osGetHostAddr(count);
    ASSERT_TRUE(addresses != nullptr && count == 1 && addresses[0] == Addr("127.0.0.1"));
    ::operator delete(addresses);
  }
  // Only with no memory at all is there nothing.
  ScopedFault f("alloc", 12, 0, 10);
  count = 5;
  EXPECT_TRUE(osGetHostAddr(count) == nullptr && count == 0);
}

TEST(HostNames, ForwardLookups) {
  unsigned int count = 0;
  unsigned int* a = osGetAddrByHostname(nullptr, "localhost", count);
  ASSERT_NE(a, nullptr);
  EXPECT_NE(std::find(a, a + count, Addr("127.0.0.1")), a + count);
  ::operator delete(a);
  a = osGetAddrByHostname(nullptr, "10.1.2.3", count);
  ASSERT_TRUE(a != nullptr && count == 1 && a[0] == Addr("10.1.2.3"));
  ::operator delete(a);

  // Unknown names, names too long for the resolver (300 characters, or too
  // many labels) and no name at all fail the same way.
  std::string labels;
  for (int i = 0; i < 60; ++i) labels += "abcd.";
  std::string const names[] = {"no-such-host.invalid", std::string(300, 'a') + ".invalid", labels + "invalid"};
  cKV_Error err;
  for (std::string const& name : names) {
    count = 9;
    EXPECT_TRUE(osGetAddrByHostname(&err, name.c_str(), count) == nullptr && count == 0);
    EXPECT_TRUE(err.GetCode() == 8 && std::string(err.GetUnit()) == ".\\ossocket") << err.GetCode();
    std::string text = static_cast<char const*>(err.GetText());
    EXPECT_EQ(text.rfind("Failed to get address by host name [" + name + "]. WSAGetLastError()=", 0), 0u) << text;
  }
  EXPECT_EQ(osGetAddrByHostname(&err, nullptr, count), nullptr);
  EXPECT_EQ(std::string(err.GetText()), "Failed to get address by host name []. WSAGetLastError()=" +
                                            std::to_string(HostSockError(SockErr::kNameNotFound)));
  // Memory for the result: null and no report.
  ScopedFault f("alloc", 12, 1);
  err.Reset();
  EXPECT_TRUE(osGetAddrByHostname(&err, "localhost", count) == nullptr && count == 0 && err.IsNotError());
}

// The resolver's answers are released with the arrays that copy them.
TEST(HostNames, LookupsLeaveNothingOpen) {
  EXPECT_EQ(HandlesLeftBy([] {
              unsigned int count = 0;
              ::operator delete(osGetAddrByHostname(nullptr, "localhost", count));
              ::operator delete(osGetHostAddr(count));
              EXPECT_EQ(osGetAddrByHostname(nullptr, "no-such-host.invalid", count), nullptr);
              bool found = false;
              osGetHostnameByIp(Addr("127.0.0.1"), found);
            }),
            0);
}

TEST(HostNames, ReverseLookupsAndDottedText) {
  bool found = false;
  EXPECT_TRUE(osGetHostnameByIp(Addr("127.0.0.1"), found).Length() > 0 && found);
  // An address without a recorded name (the resolver's refusal comes
  // through the seam: asking the live resolver would leave the machine).
  {
    ScopedFault f("sock.resolve", HostSockError(SockErr::kNameNotFound));
    EXPECT_TRUE(std::strcmp(osGetHostnameByIp(Addr("127.0.0.1"), found), "127.0.0.1") == 0 && !found);
  }
  for (char const* dotted : {"0.0.0.0", "255.255.255.255", "1.20.255.0"})
    EXPECT_STREQ(osGetIpString(Addr(dotted)), dotted);
}

TEST(Multicast, FailuresLeaveNoSocketOpen) {
  auto failures = [] {
    Sock taken(eSoctUDP);
    ASSERT_TRUE(osSoctBind(nullptr, taken, At(0, 0), nullptr));
    tKV_InetAddress group = At(Addr("239.255.42.99"), LocalPort(taken));

    // The port taken, a failing host, a group that cannot be joined.
    struct {
      char const* point;
      int error;
      std::string text;
    } const cases[] = {{nullptr, HostSockError(SockErr::kAddressInUse),
                        "Failed to bind socket to port " + std::to_string(group.port) + "."},
                       {"sock.create", 23, "Failed to create TCP socket."},
                       {"sock.join", 19, "Failed to join multicast group."}};
    cKV_Error err;
    unsigned int s = 55;
    for (auto const& c : cases) {
      std::optional<ScopedFault> f;
      if (c.point != nullptr) f.emplace(c.point, c.error);
      EXPECT_TRUE(!osSoctMulticastCreate(&err, s, group) && s == 0);
      EXPECT_EQ(err.GetCode(), 6);
      EXPECT_EQ(std::string(err.GetText()), c.text + " WSAGetLastError()=" + std::to_string(c.error));
      s = 55;
      if (taken.s != 0) osSoctClose(nullptr, taken.s);  // the port is free for the other cases
    }
    // Not a group address: the host refuses to join.
    EXPECT_TRUE(!osSoctMulticastCreate(&err, s, At(Addr("10.1.1.1"), 0)) && s == 0);
    err.Reset();
    EXPECT_TRUE(osSoctMulticastClose(&err, s, group) && err.IsNotError());
  };
  EXPECT_EQ(HandlesLeftBy(failures), 0);
}

TEST(Multicast, JoinReceiveLeave) {
  tKV_InetAddress group = At(Addr("239.255.42.98"), Sock(eSoctUDP, true).Address().port);
  cKV_Error err;
  unsigned int member = 0;
  if (!osSoctMulticastCreate(&err, member, group))
    GTEST_SKIP() << "this machine cannot join a multicast group: " << err.GetText();
  Sock sender(eSoctUDP);
  ASSERT_TRUE(osSoctSetOpt_IP_MULTICAST_TTL(nullptr, sender, 0) &&  // never leaves this machine
              osSoctSetOpt_IP_MULTICAST_LOOP(nullptr, sender, true));
  unsigned char const msg[] = "to the group";
  ASSERT_EQ(osSoctSendTo(&err, sender, msg, 12, group), 12) << err.GetText();
  Set r{member};
  if (osSoctSelect(nullptr, 0, r.p, nullptr, nullptr, 5000) != 1) {
    osSoctMulticastClose(nullptr, member, group);
    GTEST_SKIP() << "multicast is not looped back on this machine";
  }
  unsigned char buf[64];
  tKV_InetAddress from = At(0, 0);
  unsigned int count = 0;
  ASSERT_TRUE(osSoctRecvFrom(nullptr, member, buf, sizeof buf, from, &count));
  EXPECT_TRUE(std::string(reinterpret_cast<char*>(buf), count) == "to the group" && from.port == LocalPort(sender));
  EXPECT_TRUE(osSoctMulticastClose(&err, member, group) && member == 0) << err.GetText();

  // Leaving a group never joined: reported, and the socket closed anyway.
  unsigned int plain = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, plain));
  int before = OpenHandles();
  EXPECT_TRUE(!osSoctMulticastClose(&err, plain, group) && plain == 0);
  EXPECT_EQ(std::string(err.GetText()),
            "Failed to drop multicast group. WSAGetLastError()=" + std::to_string(HostDropError()));
  EXPECT_EQ(OpenHandles(), before - 1);
}

}  // namespace
