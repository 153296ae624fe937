#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "OS/ossocket.h"
#include "ossocket_helpers.h"
#include "support/testing.h"

using namespace Korvane;
using namespace nettest;
using kvtest::ScopedFault;

namespace {

// The text in a block of exactly its length, so that the address sanitizer
// sees any look past it.
struct Parse {
  unsigned int address;
  unsigned int consumed;
};
Parse Ip(std::string const& text, unsigned int length) {
  std::vector<char> block(text.begin(), text.end());
  Parse p{0xDEADBEEF, 12345};
  p.address = IsIp4Address(block.empty() ? "" : block.data(), length, &p.consumed);
  return p;
}
Parse Ip(char const* text) {
  Parse p{0xDEADBEEF, 12345};
  p.address = IsIp4Address(text, 0, &p.consumed);
  return p;
}

unsigned int Addr(char const* dotted) { return inet_addr(dotted); }

TEST(Ip4Address, AcceptsAndConsumesAsDocumented) {
  struct Case {
    char const* text;
    char const* address;  // null: 0
    unsigned int consumed;
  } const cases[] = {
      {"192.168.1.20", "192.168.1.20", 12},
      {"1.2.3.4", "1.2.3.4", 7},
      {"1.2.3.4.", "1.2.3.4", 8},
      {"1.2.3.4.5", "1.2.3.4", 8},
      {"1.2.3.4..", "1.2.3.4", 8},
      {"1.2.3", nullptr, 5},
      {"1.2.3.", nullptr, 6},
      {"1.2.3.4x", nullptr, 7},
      {"256.1.1.1", nullptr, 2},
      {"1..2.3", nullptr, 2},
      {" 1.2.3.4", nullptr, 0},
      {"-1.2.3.4", nullptr, 0},
      {".1.2.3.4", nullptr, 0},
      {"010.0001.00000000255.7", "10.1.255.7", 22},
      {"255.255.255.255", "255.255.255.255", 15},
      {"1.2.3.2550", nullptr, 9},
      {"1.2.3.4 ", nullptr, 7},
      {"\xb1.2.3.4", nullptr, 0},
      {"1.2.3.\xb4", nullptr, 6},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(c.text);
    Parse p = Ip(c.text);
    EXPECT_EQ(p.address, c.address != nullptr ? Addr(c.address) : 0u);
    EXPECT_EQ(p.consumed, c.consumed);
  }
  // 0.0.0.0 is accepted but reads like a rejection; the count tells.
  Parse zero = Ip("0.0.0.0");
  EXPECT_EQ(zero.address, 0u);
  EXPECT_EQ(zero.consumed, 7u);

  // The given length is all that is looked at.
  Parse cut = Ip("1.2.3.45", 7);
  EXPECT_EQ(cut.address, Addr("1.2.3.4"));
  EXPECT_EQ(cut.consumed, 7u);
  Parse shortText = Ip("1.2.3", 5);
  EXPECT_EQ(shortText.address, 0u);
  EXPECT_EQ(shortText.consumed, 5u);
  // A length past the text makes the NUL a character, which rejects.
  std::string withNul("1.2.3.4\0", 8);
  Parse past = Ip(withNul, 8);
  EXPECT_EQ(past.address, 0u);
  EXPECT_EQ(past.consumed, 7u);

  // Null and empty texts: 0, the count untouched.
  unsigned int consumed = 99;
  EXPECT_EQ(IsIp4Address(nullptr, 5, &consumed), 0u);
  EXPECT_EQ(IsIp4Address("", 0, &consumed), 0u);
  EXPECT_EQ(consumed, 99u);
  EXPECT_EQ(IsIp4Address("9.8.7.6", 0, nullptr), Addr("9.8.7.6"));
  EXPECT_EQ(IsIp4Address("1.2", 0, nullptr), 0u);
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
    if (i % 2 == 0) {
      for (int k = 0; k < 4; ++k) {
        if (k > 0) text += '.';
        text += std::to_string(rng() % 300);
      }
    } else {
      for (unsigned n = rng() % 20; n > 0; --n) text += alphabet[rng() % (sizeof alphabet - 1)];
    }
    in_addr host{};
    if (inet_pton(AF_INET, text.c_str(), &host) == 1) {
      Parse p = Ip(text, static_cast<unsigned int>(text.size()));
      ASSERT_EQ(p.address, host.s_addr) << text;
      ASSERT_EQ(p.consumed, text.size()) << text;
      ++agreed;
    }
    for (unsigned int len = 1; len <= text.size(); ++len) {
      if (i % 50 != 0) break;
      Parse p = Ip(text.substr(0, len), len);
      ASSERT_LE(p.consumed, len) << text;
    }
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
      if (p.address != 0) {
        ASSERT_EQ(text.find_first_not_of("0123456789."), std::string::npos) << text;
      }
    }
}

TEST(HostNames, LocalNameAndAddresses) {
  char name[256] = {};
  ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
  EXPECT_STREQ(osGetHostName(), name);
  {
    ScopedFault f("sock.hostname", ENAMETOOLONG);
    EXPECT_STREQ(osGetHostName(), "localhost");
  }

  unsigned int count = 77;
  unsigned int* addresses = osGetHostAddr(count);
  ASSERT_NE(addresses, nullptr);
  EXPECT_GE(count, 1u);
  ::operator delete(addresses);

  // A host that cannot resolve its own name still gives the loopback.
  {
    ScopedFault f("sock.resolve", 1);
    addresses = osGetHostAddr(count);
    ASSERT_NE(addresses, nullptr);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(addresses[0], Addr("127.0.0.1"));
    ::operator delete(addresses);
  }
  // So does one whose answer cannot be copied.
  {
    ScopedFault f("alloc", ENOMEM, 1);
    addresses = osGetHostAddr(count);
    ASSERT_NE(addresses, nullptr);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(addresses[0], Addr("127.0.0.1"));
    ::operator delete(addresses);
  }
  // Only with no memory at all is there nothing.
  {
    ScopedFault f("alloc", ENOMEM, 0, 10);
    count = 5;
    EXPECT_EQ(osGetHostAddr(count), nullptr);
    EXPECT_EQ(count, 0u);
  }
}

TEST(HostNames, ForwardLookups) {
  unsigned int count = 0;
  unsigned int* a = osGetAddrByHostname(nullptr, "localhost", count);
  ASSERT_NE(a, nullptr);
  ASSERT_GE(count, 1u);
  bool hasLoopback = false;
  for (unsigned int i = 0; i < count; ++i) hasLoopback |= a[i] == Addr("127.0.0.1");
  EXPECT_TRUE(hasLoopback);
  ::operator delete(a);

  a = osGetAddrByHostname(nullptr, "10.1.2.3", count);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(a[0], Addr("10.1.2.3"));
  ::operator delete(a);

  cKV_Error err;
  count = 9;
  EXPECT_EQ(osGetAddrByHostname(&err, "no-such-host.invalid", count), nullptr);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(err.GetCode(), 8);
  EXPECT_STREQ(err.GetUnit(), ".\\ossocket");
  EXPECT_EQ(std::string(err.GetText()).rfind("Failed to get address by host name [no-such-host.invalid]. "
                                             "WSAGetLastError()=",
                                             0),
            0u)
      << err.GetText();

  // Names too long for the resolver fail the same way.
  std::string longName(300, 'a');
  longName += ".invalid";
  EXPECT_EQ(osGetAddrByHostname(&err, longName.c_str(), count), nullptr);
  EXPECT_EQ(err.GetCode(), 8);
  std::string labels;
  for (int i = 0; i < 60; ++i) labels += "abcd.";
  labels += "invalid";
  EXPECT_EQ(osGetAddrByHostname(&err, labels.c_str(), count), nullptr);
  EXPECT_EQ(err.GetCode(), 8);
  EXPECT_EQ(osGetAddrByHostname(&err, nullptr, count), nullptr);
  EXPECT_EQ(std::string(err.GetText()), "Failed to get address by host name []. WSAGetLastError()=1");

  {
    ScopedFault f("sock.resolve", 2);
    EXPECT_EQ(osGetAddrByHostname(&err, "localhost", count), nullptr);
    EXPECT_EQ(std::string(err.GetText()), "Failed to get address by host name [localhost]. WSAGetLastError()=2");
  }
  // Memory for the result: null and no report.
  {
    ScopedFault f("alloc", ENOMEM, 1);
    err.Reset();
    EXPECT_EQ(osGetAddrByHostname(&err, "localhost", count), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(err.IsNotError());
  }
}

TEST(HostNames, ReverseLookupsAndDottedText) {
  bool found = false;
  cKV_String name = osGetHostnameByIp(Addr("127.0.0.1"), found);
  EXPECT_TRUE(found);
  EXPECT_GT(name.Length(), 0u);

  // An address without a recorded name (the resolver's refusal comes
  // through the seam: asking the live resolver would leave the machine).
  {
    ScopedFault f("sock.resolve", 1);
    name = osGetHostnameByIp(Addr("127.0.0.1"), found);
    EXPECT_FALSE(found);
    EXPECT_STREQ(name, "127.0.0.1");
  }

  EXPECT_STREQ(osGetIpString(Addr("10.0.0.1")), "10.0.0.1");
  EXPECT_STREQ(osGetIpString(0), "0.0.0.0");
  EXPECT_STREQ(osGetIpString(0xFFFFFFFFu), "255.255.255.255");
  EXPECT_STREQ(osGetIpString(Addr("1.20.255.0")), "1.20.255.0");
}

TEST(Multicast, FailuresLeaveNoSocketOpen) {
  int before = OpenDescriptors();
  tKV_InetAddress group = At(Addr("239.255.42.99"), 0);
  unsigned int taken = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, taken));
  ASSERT_TRUE(osSoctBind(nullptr, taken, At(0, 0), nullptr));
  group.port = LocalPort(taken);

  cKV_Error err;
  unsigned int s = 55;
  EXPECT_FALSE(osSoctMulticastCreate(&err, s, group));
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(err.GetCode(), 6);
  EXPECT_EQ(std::string(err.GetText()), "Failed to bind socket to port " + std::to_string(group.port) +
                                            ". WSAGetLastError()=" + std::to_string(EADDRINUSE));
  osSoctClose(nullptr, taken);

  {
    ScopedFault f("sock.create", ENFILE);
    s = 55;
    EXPECT_FALSE(osSoctMulticastCreate(&err, s, group));
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(std::string(err.GetText()), "Failed to create TCP socket. WSAGetLastError()=" + std::to_string(ENFILE));
  }
  {
    ScopedFault f("sock.join", ENODEV);
    EXPECT_FALSE(osSoctMulticastCreate(&err, s, group));
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(std::string(err.GetText()), "Failed to join multicast group. WSAGetLastError()=" + std::to_string(ENODEV));
  }
  // Not a group address: the host refuses to join.
  EXPECT_FALSE(osSoctMulticastCreate(&err, s, At(Addr("10.1.1.1"), 0)));
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(OpenDescriptors(), before);

  unsigned int none = 0;
  err.Reset();
  EXPECT_TRUE(osSoctMulticastClose(&err, none, group));
  EXPECT_TRUE(err.IsNotError());
}

TEST(Multicast, JoinReceiveLeave) {
  tKV_InetAddress group = At(Addr("239.255.42.98"), 0);
  unsigned int probe = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, probe));
  ASSERT_TRUE(osSoctBind(nullptr, probe, At(0, 0), nullptr));
  group.port = LocalPort(probe);
  osSoctClose(nullptr, probe);

  cKV_Error err;
  unsigned int member = 0;
  if (!osSoctMulticastCreate(&err, member, group))
    GTEST_SKIP() << "this machine cannot join a multicast group: " << err.GetText();
  unsigned int sender = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, sender));
  ASSERT_TRUE(osSoctSetOpt_IP_MULTICAST_TTL(nullptr, sender, 0));  // never leaves this machine
  ASSERT_TRUE(osSoctSetOpt_IP_MULTICAST_LOOP(nullptr, sender, true));
  unsigned char const msg[] = "to the group";
  ASSERT_EQ(osSoctSendTo(&err, sender, msg, 12, group), 12) << err.GetText();

  cFD_SET* r = cFD_SET::Create(nullptr);
  r->Add(member);
  int ready = osSoctSelect(nullptr, 0, r, nullptr, nullptr, 5000);
  cFD_SET::Delete(r);
  if (ready != 1) {
    osSoctMulticastClose(nullptr, member, group);
    osSoctClose(nullptr, sender);
    GTEST_SKIP() << "multicast is not looped back on this machine";
  }
  unsigned char buf[64];
  tKV_InetAddress from = At(0, 0);
  unsigned int count = 0;
  ASSERT_TRUE(osSoctRecvFrom(nullptr, member, buf, sizeof buf, from, &count));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), count), "to the group");
  EXPECT_EQ(from.port, LocalPort(sender));

  EXPECT_TRUE(osSoctMulticastClose(&err, member, group)) << err.GetText();
  EXPECT_EQ(member, 0u);

  // Leaving a group never joined: reported, and the socket closed anyway.
  unsigned int plain = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, plain));
  int before = OpenDescriptors();
  EXPECT_FALSE(osSoctMulticastClose(&err, plain, group));
  EXPECT_EQ(plain, 0u);
  EXPECT_EQ(std::string(err.GetText()),
            "Failed to drop multicast group. WSAGetLastError()=" + std::to_string(EADDRNOTAVAIL));
  EXPECT_EQ(OpenDescriptors(), before - 1);
  osSoctClose(nullptr, sender);
}

}  // namespace
