#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "ossocket_helpers.h"
#include "support/testing.h"

using namespace Korvane;
using namespace nettest;
using kvtest::ScopedFault;

namespace {

template <class... A>
std::string Fmt(char const* format, A... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

template <class... A>
void ExpectReport(cKV_Error const& e, char const* format, A... args) {
  EXPECT_TRUE(e.GetCode() == 6 && std::string(e.GetUnit()) == ".\\ossocket" && e.GetLine() > 0) << e.GetCode();
  EXPECT_EQ(std::string(e.GetText()), Fmt(format, args...));
}

int Err(SockErr kind) { return HostSockError(kind); }

TEST(Socket, CreateAndCloseFollowTheNoneConvention) {
  auto cycle = [] {
    unsigned int tcp = 0, udp = 0, other = 0;
    ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, tcp) && osSoctCreate(nullptr, eSoctUDP, udp) &&
                osSoctCreate(nullptr, static_cast<eSoctType>(5), other));
    for (unsigned int s : {tcp, udp, other}) EXPECT_TRUE(s != 0 && !IsInheritable(s) && IsStream(s) == (s == tcp));

    cKV_Error err;
    unsigned int closed = tcp;
    EXPECT_TRUE(osSoctClose(&err, closed) && closed == 0 && err.IsNotError());
    EXPECT_FALSE(osSoctClose(&err, closed));
    ExpectReport(err, "Failed to close socket. Socket:%u, WSAGetLastError()=%d", 0, Err(SockErr::kNotSocket));
    // The number of a socket closed before: refused, and reported with it.
    closed = tcp;
    EXPECT_TRUE(!osSoctClose(&err, closed) && closed == tcp);
    ExpectReport(err, "Failed to close socket. Socket:%u, WSAGetLastError()=%d", tcp, Err(SockErr::kNothingOpen));

    // A failing host: the variable is 0 after a failed create.
    unsigned int s = 77;
    {
      ScopedFault f("sock.create", 24);
      EXPECT_TRUE(!osSoctCreate(&err, eSoctUDP, s) && s == 0);
      ExpectReport(err, "Failed to create TCP socket. WSAGetLastError()=%d", 24);
    }
    EXPECT_TRUE(osSoctClose(nullptr, udp) && osSoctClose(nullptr, other));
  };
  EXPECT_EQ(HandlesLeftBy(cycle), 0);
}

// Numbers that name no socket: 0, numbers out of the host's range, a
// socket closed before and a file of the process. None of them may be
// read, written, switched or closed, and the file stays open.
TEST(Socket, NumbersThatAreNotSocketsAreRefusedUntouched) {
  unsigned int file = OpenNonSocket();
  ASSERT_NE(file, 0u);
  unsigned int gone = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, gone));
  CloseRaw(gone);
  unsigned char buf[8] = {};
  for (unsigned int number : {0u, 0x7FFFFFF0u, 0xFFFFFFFFu, gone, file}) {
    SCOPED_TRACE(number);
    // Linux tells a free number within its range apart from one that is no
    // socket; Windows calls either no socket.
    int reason = Err(number == gone || number == 0x7FFFFFF0u ? SockErr::kNothingOpen : SockErr::kNotSocket);
    unsigned int s = number, count = 5, accepted = 9;
    cKV_Error err;
    bool flag = true;
    int pending = 0;
    EXPECT_TRUE(!osSoctClose(&err, s) && s == number);
    ExpectReport(err, "Failed to close socket. Socket:%u, WSAGetLastError()=%d", number, reason);
    EXPECT_TRUE(!osSoctSetNonblock(&err, s, true) && !osSoctShutdown(&err, s, eSoctShutdownBoth) &&
                !osSoctListen(&err, s, 1));
    EXPECT_TRUE(!osSockGetReadSize(&err, s, count) && count == 0);
    EXPECT_TRUE(osSoctRecv(&err, s, buf, sizeof buf, &flag) == -1 && !flag);
    EXPECT_EQ(osSoctSend(&err, s, buf, sizeof buf, &flag), -1);
    EXPECT_TRUE(!osSoctAccept(&err, s, accepted, nullptr, nullptr) && accepted == 0);
    EXPECT_FALSE(osSoctGetOpt_SO_ERROR(&err, s, pending));
    ExpectReport(err, "getsockopt with SO_ERROR failed on socket %u. %s", number,
                 static_cast<char const*>(osGetSysErrorStr(reason)));
  }
  EXPECT_TRUE(NonSocketIsOpen(file));
  CloseNonSocket(file);
}

TEST(Socket, BindTellsAddressInUseApart) {
  Sock a, b;
  bool inUse = true;
  ASSERT_TRUE(osSoctBind(nullptr, a, At(Loopback(), 0), &inUse) && !inUse);
  ASSERT_TRUE(osSoctListen(nullptr, a, 4));
  unsigned short port = LocalPort(a);

  cKV_Error err;
  EXPECT_TRUE(!osSoctBind(&err, b, At(Loopback(), port), &inUse) && inUse);
  ExpectReport(err, "Failed to bind socket. Port=%u, WSAGetLastError()=%d", port, Err(SockErr::kAddressInUse));
  // An address of no local interface.
  EXPECT_TRUE(!osSoctBind(&err, b, At(Addr("192.0.2.231"), 0), &inUse) && !inUse);
  ExpectReport(err, "Failed to bind socket. Port=%u, WSAGetLastError()=%d", 0, Err(SockErr::kAddressNotAvailable));
}

TEST(Socket, BlockingConversationWithHalfClose) {
  Listener l;
  Sock c, s{nullptr};
  bool inProgress = true, wouldBlock = true;
  ASSERT_TRUE(osSoctConnect(nullptr, c, l.Address(), &inProgress) && !inProgress);
  tKV_InetAddress peer = At(1, 1);
  ASSERT_TRUE(osSoctAccept(nullptr, l, s.s, &peer, &wouldBlock) && wouldBlock);  // the flag untouched on success
  EXPECT_TRUE(peer.address == Loopback() && peer.port == LocalPort(c));
  EXPECT_FALSE(IsInheritable(s));
  ASSERT_TRUE(osSoctGetPeerName(nullptr, c, peer));
  EXPECT_TRUE(peer.address == Loopback() && peer.port == l.port);

  unsigned char const hello[] = "hello, world";
  EXPECT_TRUE(osSoctSend(nullptr, c, hello, 12, &wouldBlock) == 12 && !wouldBlock);
  unsigned int ready = 0;
  EXPECT_TRUE(Eventually([&] { return osSockGetReadSize(nullptr, s, ready) && ready == 12; })) << ready;
  unsigned char buf[64] = {};
  EXPECT_EQ(osSoctRecv(nullptr, s, buf, 5, &wouldBlock), 5);
  EXPECT_EQ(osSoctRecv(nullptr, s, buf + 5, sizeof buf - 5, nullptr), 7);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 12), "hello, world");

  // Length 0 moves nothing and is no failure; a zero-length receive takes
  // nothing from what is waiting.
  EXPECT_TRUE(osSoctSend(nullptr, c, hello, 0, &wouldBlock) == 0 && !wouldBlock);
  ASSERT_EQ(osSoctSend(nullptr, c, hello, 1, nullptr), 1);
  EXPECT_TRUE(Eventually([&] { return osSockGetReadSize(nullptr, s, ready) && ready == 1; }));
  wouldBlock = true;
  EXPECT_TRUE(osSoctRecv(nullptr, s, buf, 0, &wouldBlock) == 0 && !wouldBlock);
  EXPECT_TRUE(osSockGetReadSize(nullptr, s, ready) && ready == 1);
  EXPECT_EQ(osSoctRecv(nullptr, s, buf, 1, nullptr), 1);
  // Bad lengths and a null buffer are the host's to refuse, not a crash.
  cKV_Error err;
  bool flag = true;
  EXPECT_TRUE(osSoctRecv(&err, s, buf, -5, &flag) == -1 && !flag);
  ExpectReport(err, "Recv failed on socket %u. Bytes requested to read=4294967291. WSAGetLastError()=%d", s.s,
               Err(SockErr::kInvalid));
  EXPECT_EQ(osSoctSend(&err, c, nullptr, 4, nullptr), -1);
  ExpectReport(err, "Send failed on socket %u. Bytes requested to send=4. WSAGetLastError()=%d", c.s,
               Err(SockErr::kFault));

  // Half-close: the server reads the end, then still answers.
  ASSERT_TRUE(osSoctShutdown(nullptr, c, eSoctShutdownSend));
  wouldBlock = true;
  EXPECT_TRUE(osSoctRecv(nullptr, s, buf, sizeof buf, &wouldBlock) == 0 && !wouldBlock);
  EXPECT_TRUE(osSoctSend(nullptr, s, hello, 5, nullptr) == 5 && osSoctRecv(nullptr, c, buf, sizeof buf, nullptr) == 5);

  // Shutdown modes other than 0 and 1 stop both directions.
  ASSERT_TRUE(osSoctShutdown(nullptr, s, static_cast<eSoctShutdownMode>(7)));
  EXPECT_EQ(osSoctSend(&err, s, hello, 5, nullptr), -1);
  ExpectReport(err, "Send failed on socket %u. Bytes requested to send=%u. WSAGetLastError()=%d", s.s, 5,
               Err(SockErr::kShutDown));
}

TEST(Socket, NonblockingCallsReportWouldBlockAsTheirFlagsSay) {
  Listener l;
  ASSERT_TRUE(osSoctSetNonblock(nullptr, l, true));

  // Accept with nothing waiting: a report and the flag.
  cKV_Error err;
  Sock s{nullptr};
  bool wouldBlock = false;
  s.s = 99;
  EXPECT_TRUE(!osSoctAccept(&err, l, s.s, nullptr, &wouldBlock) && wouldBlock && s.s == 0);
  ExpectReport(err, "Failed to accept new connection. Socket:%u, WSAGetLastError()=%d", l.s,
               Err(SockErr::kWouldBlock));

  // Connect of a non-blocking socket: in progress, nothing reported.
  Sock c;
  ASSERT_TRUE(osSoctSetNonblock(nullptr, c, true));
  cKV_Error untouched;
  untouched.Set(1, "u", 2, "keep");
  bool inProgress = false;
  EXPECT_TRUE(osSoctConnect(&untouched, c, l.Address(), &inProgress) || inProgress);

  // The accepted socket keeps the listener's non-blocking mode: nothing to
  // read yet gives 0, the flag set and no report, at once.
  ASSERT_TRUE(Eventually([&] { return osSoctAccept(nullptr, l, s.s, nullptr, &wouldBlock); }));
  EXPECT_FALSE(IsInheritable(s));
  unsigned char buf[4096];
  wouldBlock = false;
  EXPECT_TRUE(osSoctRecv(&untouched, s, buf, sizeof buf, &wouldBlock) == 0 && wouldBlock);

  // Sending into a full pipe: partial counts, then 0 with the flag.
  std::vector<unsigned char> block(1 << 20, 0x5a);
  long sent = 0;
  int n = 1;
  for (int i = 0; i < 1000 && n > 0; ++i) sent += n = osSoctSend(&untouched, c, block.data(), 1 << 20, &wouldBlock);
  EXPECT_TRUE(n == 0 && wouldBlock) << n;
  EXPECT_STREQ(untouched.GetText(), "keep");
  // Everything sent arrives, in order.
  for (long got = 0, r = 0; got < sent; got += r) {
    if (r == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    r = osSoctRecv(nullptr, s, buf, sizeof buf, &wouldBlock);
    ASSERT_TRUE(r > 0 || (r == 0 && wouldBlock)) << r;
    ASSERT_EQ(std::count(buf, buf + r, 0x5a), r);
  }

  // After the peer closes: 0 without the flag.
  osSoctClose(nullptr, c.s);
  EXPECT_TRUE(Eventually([&] { return osSoctRecv(nullptr, s, buf, sizeof buf, &wouldBlock) == 0 && !wouldBlock; }));
}

TEST(Socket, ConnectToAClosedPortIsReportedWithALineFeed) {
  unsigned short port = FreePort();
  Sock c;
  cKV_Error err;
  bool inProgress = true;
  EXPECT_TRUE(!osSoctConnect(&err, c, At(Addr("127.0.0.1"), port), &inProgress) && !inProgress);
  ExpectReport(err, "Failed to connect socket %u to ip=127.0.0.1, port=%d. WSAGetLastError()=%d\n", c.s, port,
               Err(SockErr::kRefused));

  tKV_InetAddress untouched = At(5, 5);
  EXPECT_TRUE(!osSoctGetPeerName(&err, c, untouched) && untouched.address == 5);
  ExpectReport(err, "Failed to get socket peer name. Socket:%u, WSAGetLastError()=%d", c.s,
               Err(SockErr::kNotConnected));
}

TEST(Socket, PeerResetGivesFailures) {
  std::vector<unsigned char> data(65536, 1);
  cKV_Error err;
  Pair p;
  // Linger on for no time makes the close a reset.
  ASSERT_TRUE(osSoctSetOpt_SO_LINGER(nullptr, p.server, true, 0));
  ASSERT_TRUE(ReadOption(p.server, Opt::kLingerOn) == 1 && ReadOption(p.server, Opt::kLingerSeconds) == 0);
  ASSERT_TRUE(osSoctClose(nullptr, p.server.s));
  unsigned char buf[16];
  int r = osSoctRecv(&err, p.client, buf, sizeof buf, nullptr);
  if (r == 0) GTEST_SKIP() << "the host closed the peer in order despite its linger time of 0 (Wine does): no reset";
  EXPECT_EQ(r, -1);
  ExpectReport(err, "Recv failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=%d", p.client.s, 16,
               Err(SockErr::kReset));
  EXPECT_EQ(osSoctSend(&err, p.client, data.data(), 65536, nullptr), -1);
  EXPECT_EQ(err.GetCode(), 6);
}

TEST(Socket, DatagramsTreatWouldBlockAsFailure) {
  Sock a(eSoctUDP, true), b(eSoctUDP, true);
  tKV_InetAddress toA = a.Address();
  unsigned char const msg[] = "datagram";
  EXPECT_EQ(osSoctSendTo(nullptr, b, msg, 8, toA), 8);
  unsigned char buf[64] = {};
  tKV_InetAddress from = At(0, 0);
  unsigned int count = 0;
  ASSERT_TRUE(osSoctRecvFrom(nullptr, a, buf, sizeof buf, from, &count) && count == 8);
  EXPECT_TRUE(from.address == Loopback() && from.port == LocalPort(b));

  // An empty datagram is one too.
  EXPECT_EQ(osSoctSendTo(nullptr, b, msg, 0, toA), 0);
  EXPECT_TRUE(osSoctRecvFrom(nullptr, a, buf, sizeof buf, from, &count) && count == 0);

  // A datagram longer than the buffer: the part fits, the rest is lost and
  // the call fails.
  EXPECT_EQ(osSoctSendTo(nullptr, b, msg, 8, toA), 8);
  EXPECT_EQ(osSoctSendTo(nullptr, b, msg, 3, toA), 3);
  cKV_Error err;
  from = At(7, 7), count = 99;
  EXPECT_FALSE(osSoctRecvFrom(&err, a, buf, 4, from, &count));
  ExpectReport(err, "Recvfrom failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=%d", a.s, 4,
               Err(SockErr::kMessageSize));
  EXPECT_TRUE(from.address == 7 && count == 99);
  EXPECT_TRUE(osSoctRecvFrom(nullptr, a, buf, sizeof buf, from, nullptr) && std::memcmp(buf, "dat", 3) == 0);

  // Nothing waiting on a non-blocking socket is a reported failure here.
  ASSERT_TRUE(osSoctSetNonblock(nullptr, a, true));
  EXPECT_TRUE(!osSoctRecvFrom(&err, a, buf, sizeof buf, from, &count) && count == 99);
  ExpectReport(err, "Recvfrom failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=%d", a.s, 64,
               Err(SockErr::kWouldBlock));
  EXPECT_EQ(osSoctSendTo(&err, b, msg, -1, toA), -1);
  ExpectReport(err, "Sendto failed on socket %u. Bytes requested to send=4294967295. WSAGetLastError()=%d", b.s,
               Err(SockErr::kInvalid));
}

TEST(Socket, OptionsReachTheHost) {
  Pair p;

  EXPECT_TRUE(osSoctSetOpt_TCP_NODELAY(nullptr, p.client, true) && ReadOption(p.client, Opt::kNoDelay) > 0);
  EXPECT_TRUE(osSoctSetOpt_TCP_NODELAY(nullptr, p.client, false) && ReadOption(p.client, Opt::kNoDelay) == 0);
  EXPECT_TRUE(osSoctSetOpt_SO_REUSEADDR(nullptr, p.client, true) && ReadOption(p.client, Opt::kReuseAddr) > 0);
  // The linger time is cut to 16 bits: 70000 is 4464.
  ASSERT_TRUE(osSoctSetOpt_SO_LINGER(nullptr, p.client, true, 70000));
  EXPECT_TRUE(ReadOption(p.client, Opt::kLingerOn) == 1 && ReadOption(p.client, Opt::kLingerSeconds) == 4464);
  ASSERT_TRUE(osSoctSetOpt_SO_LINGER(nullptr, p.client, false, 65535));
  EXPECT_EQ(ReadOption(p.client, Opt::kLingerOn), 0);

  Sock u(eSoctUDP);
  EXPECT_TRUE(osSoctSetOpt_IP_MULTICAST_TTL(nullptr, u, 7) && ReadOption(u, Opt::kMulticastTtl) == 7);
  EXPECT_TRUE(osSoctSetOpt_IP_MULTICAST_LOOP(nullptr, u, false) && ReadOption(u, Opt::kMulticastLoop) == 0);
  EXPECT_TRUE(osSoctSetOpt_IP_MULTICAST_LOOP(nullptr, u, true) && ReadOption(u, Opt::kMulticastLoop) == 1);

  cKV_Error err;
  unsigned int zero = 0;
  EXPECT_FALSE(osSoctSetOpt_IP_MULTICAST_TTL(&err, zero, 300));
  ExpectReport(err, "Set multicast IP_MULTICAST_TTL=300 failed. WSAGetLastError()=%d", Err(SockErr::kNotSocket));
  EXPECT_FALSE(osSoctSetOpt_IP_MULTICAST_LOOP(&err, zero, true));
  ExpectReport(err, "Set multicast IP_MULTICAST_LOOP=1 failed. WSAGetLastError()=%d", Err(SockErr::kNotSocket));
  EXPECT_FALSE(osSoctSetOpt_SO_LINGER(&err, zero, true, 70000));
  ExpectReport(err, "Set SO_LINGER=(1,70000) failed. WSAGetLastError()=%d", Err(SockErr::kNotSocket));
  EXPECT_FALSE(osSoctSetOpt_TCP_NODELAY(&err, zero, true));
  ExpectReport(err, "setsockopt with TCP_NODELAY failed on socket 0. WSAGetLastError()=%d", Err(SockErr::kNotSocket));
  {
    ScopedFault f("sock.setopt", 55);
    EXPECT_FALSE(osSoctSetOpt_SO_REUSEADDR(&err, u, true));
    ExpectReport(err, "setsockopt with SO_REUSEADDR failed on socket %u. WSAGetLastError()=%d", u.s, 55);
  }
  ScopedFault f("sock.getopt", Err(SockErr::kNotSocket));
  int v = 0;
  EXPECT_FALSE(osSoctGetOpt_SO_ERROR(&err, u, v));
  ExpectReport(err, "getsockopt with SO_ERROR failed on socket %u. %s", u.s,
               static_cast<char const*>(osGetSysErrorStr(Err(SockErr::kNotSocket))));
}

// A whole conversation, refused accepts and connects included, leaves no
// descriptor or handle behind.
TEST(Socket, ConversationsLeaveNothingOpen) {
  EXPECT_EQ(HandlesLeftBy([] {
              Listener l;
              Sock c, s{nullptr};
              ASSERT_TRUE(osSoctConnect(nullptr, c, l.Address(), nullptr) &&
                          osSoctAccept(nullptr, l, s.s, nullptr, nullptr));
              unsigned char buf[4] = {'a', 'b', 'c', 'd'};
              EXPECT_TRUE(osSoctSend(nullptr, c, buf, 4, nullptr) == 4 && osSoctRecv(nullptr, s, buf, 4, nullptr) == 4);
              EXPECT_TRUE(osSoctShutdown(nullptr, c, eSoctShutdownBoth) && osSoctClose(nullptr, c.s) &&
                          osSoctClose(nullptr, s.s));
              unsigned int none = 0;
              ASSERT_TRUE(osSoctSetNonblock(nullptr, l, true));
              EXPECT_FALSE(osSoctAccept(nullptr, l, none, nullptr, nullptr));
              Sock refused;
              EXPECT_FALSE(osSoctConnect(nullptr, refused, At(Loopback(), FreePort()), nullptr));
            }),
            0);
}

TEST(Socket, ByteOrder) {
  EXPECT_EQ(osSoctHtonq(0x0102030405060708ULL), 0x0807060504030201ULL);
  EXPECT_EQ(osSoctNtohq(osSoctHtonq(0xFEDCBA9876543210ULL)), 0xFEDCBA9876543210ULL);
  EXPECT_TRUE(osSoctHtonl(0x0A000001u) == Addr("10.0.0.1") && osSoctNtohl(Addr("10.0.0.1")) == 0x0A000001u);
  unsigned short network = osSoctHtons(0x1234);
  unsigned char bytes[2];
  std::memcpy(bytes, &network, 2);
  EXPECT_TRUE(bytes[0] == 0x12 && bytes[1] == 0x34 && osSoctNtohs(network) == 0x1234);
}

}  // namespace
