#include "OS/ossocket.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ossocket_helpers.h"
#include "support/testing.h"

using namespace Korvane;
using namespace nettest;
using kvtest::ScopedFault;

namespace {

std::string Fmt(char const* format, unsigned int a, int b) {
  char text[256];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

void ExpectReport(cKV_Error const& e, std::string const& text) {
  EXPECT_EQ(e.GetCode(), 6);
  EXPECT_STREQ(e.GetUnit(), ".\\ossocket");
  EXPECT_EQ(std::string(e.GetText()), text);
  EXPECT_GT(e.GetLine(), 0);
}

int SocketType(unsigned int s) {
  int type = 0;
  socklen_t len = sizeof type;
  getsockopt(static_cast<int>(s), SOL_SOCKET, SO_TYPE, &type, &len);
  return type;
}

TEST(Socket, CreateAndCloseFollowTheNoneConvention) {
  unsigned int tcp = 0, udp = 0, other = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, tcp));
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, udp));
  ASSERT_TRUE(osSoctCreate(nullptr, static_cast<eSoctType>(5), other));
  EXPECT_EQ(SocketType(tcp), SOCK_STREAM);
  EXPECT_EQ(SocketType(udp), SOCK_DGRAM);
  EXPECT_EQ(SocketType(other), SOCK_DGRAM);
  for (unsigned int s : {tcp, udp, other}) {
    EXPECT_NE(s, 0u);
    EXPECT_TRUE(IsCloseOnExec(s));
  }

  cKV_Error err;
  unsigned int closed = tcp;
  EXPECT_TRUE(osSoctClose(&err, closed));
  EXPECT_EQ(closed, 0u);
  EXPECT_TRUE(err.IsNotError());
  EXPECT_FALSE(osSoctClose(&err, closed));
  ExpectReport(err, Fmt("Failed to close socket. Socket:%u, WSAGetLastError()=%d", 0, ENOTSOCK));

  // A number that was closed is refused and kept.
  unsigned int stale = tcp;
  EXPECT_FALSE(osSoctClose(&err, stale));
  EXPECT_EQ(stale, tcp);
  ExpectReport(err, Fmt("Failed to close socket. Socket:%u, WSAGetLastError()=%d", tcp, EBADF));

  // A failing host: the variable is 0 after a failed create, kept after a
  // failed close.
  {
    ScopedFault f("sock.create", EMFILE);
    unsigned int s = 77;
    EXPECT_FALSE(osSoctCreate(&err, eSoctUDP, s));
    EXPECT_EQ(s, 0u);
    ExpectReport(err, "Failed to create TCP socket. WSAGetLastError()=" + std::to_string(EMFILE));
  }
  {
    ScopedFault f("sock.close", EIO);
    unsigned int s = udp;
    EXPECT_FALSE(osSoctClose(nullptr, s));
    EXPECT_EQ(s, udp);
  }
  EXPECT_TRUE(osSoctClose(nullptr, udp));
  EXPECT_TRUE(osSoctClose(nullptr, other));
}

// Socket numbers that are not sockets: 0 (the standard input), a closed
// number, a number beyond the descriptor range and an open file. None of
// them may be read, written, switched or closed.
TEST(Socket, NumbersThatAreNotSocketsAreRefusedUntouched) {
  int saved = dup(0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "keep", 4), 4);
  ASSERT_EQ(dup2(fds[0], 0), 0);

  kvtest::TempDir dir;
  int file = open((dir / "f").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  ASSERT_GT(file, 0);

  unsigned char buf[8] = {};
  for (unsigned int number : {0u, 0x7FFFFFF0u, 0xFFFFFFFFu, static_cast<unsigned int>(file)}) {
    SCOPED_TRACE(number);
    unsigned int s = number;
    cKV_Error err;
    bool flag = true;
    EXPECT_FALSE(osSoctClose(&err, s));
    EXPECT_EQ(s, number);
    EXPECT_FALSE(osSoctSetNonblock(&err, s, true));
    unsigned int count = 5;
    EXPECT_FALSE(osSockGetReadSize(&err, s, count));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(osSoctRecv(&err, s, buf, sizeof buf, &flag), -1);
    EXPECT_FALSE(flag);
    EXPECT_EQ(osSoctSend(&err, s, buf, sizeof buf, &flag), -1);
    EXPECT_FALSE(osSoctShutdown(&err, s, eSoctShutdownBoth));
    EXPECT_FALSE(osSoctListen(&err, s, 1));
    unsigned int accepted = 9;
    EXPECT_FALSE(osSoctAccept(&err, s, accepted, nullptr, nullptr));
    EXPECT_EQ(accepted, 0u);
    int pending = 0;
    EXPECT_FALSE(osSoctGetOpt_SO_ERROR(&err, s, pending));
    EXPECT_EQ(err.GetCode(), 6);
  }
  char rest[8] = {};
  EXPECT_EQ(read(0, rest, sizeof rest), 4);  // the standard input kept its data
  EXPECT_EQ(std::string(rest, 4), "keep");
  EXPECT_FALSE(IsNonblocking(0));
  EXPECT_EQ(write(file, "x", 1), 1);  // the file is still open
  struct stat st;
  EXPECT_EQ(fstat(file, &st), 0);

  close(file);
  dup2(saved, 0);
  close(saved);
  close(fds[0]);
  close(fds[1]);
}

TEST(Socket, DescriptorZeroIsNeverHandedOut) {
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);
  unsigned int s = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, s));
  EXPECT_NE(s, 0u);
  EXPECT_EQ(fcntl(0, F_GETFD), -1);  // and 0 was given back
  EXPECT_TRUE(IsCloseOnExec(s));

  // Accepting while 0 is free.
  {
    Listener l;
    unsigned int c = 0;
    ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, c));
    ASSERT_TRUE(osSoctConnect(nullptr, c, l.Address(), nullptr));
    unsigned int a = 0;
    ASSERT_EQ(fcntl(0, F_GETFD), -1);
    ASSERT_TRUE(osSoctAccept(nullptr, l.s, a, nullptr, nullptr));
    EXPECT_NE(a, 0u);
    EXPECT_TRUE(IsCloseOnExec(a));
    osSoctClose(nullptr, a);
    osSoctClose(nullptr, c);
  }
  osSoctClose(nullptr, s);
  dup2(saved, 0);
  close(saved);
}

TEST(Socket, BindTellsAddressInUseApart) {
  unsigned int a = 0, b = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, a));
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, b));
  bool inUse = true;
  ASSERT_TRUE(osSoctBind(nullptr, a, At(Loopback(), 0), &inUse));
  EXPECT_FALSE(inUse);
  ASSERT_TRUE(osSoctListen(nullptr, a, 4));
  unsigned short port = LocalPort(a);

  cKV_Error err;
  EXPECT_FALSE(osSoctBind(&err, b, At(Loopback(), port), &inUse));
  EXPECT_TRUE(inUse);
  ExpectReport(err, Fmt("Failed to bind socket. Port=%u, WSAGetLastError()=%d", port, EADDRINUSE));

  // An address of no local interface.
  inUse = true;
  EXPECT_FALSE(osSoctBind(&err, b, At(inet_addr("192.0.2.231"), 0), &inUse));
  EXPECT_FALSE(inUse);
  ExpectReport(err, Fmt("Failed to bind socket. Port=%u, WSAGetLastError()=%d", 0, EADDRNOTAVAIL));
  EXPECT_FALSE(osSoctBind(nullptr, b, At(Loopback(), port), nullptr));  // no flag, no record

  osSoctClose(nullptr, a);
  osSoctClose(nullptr, b);
}

TEST(Socket, BlockingConversationWithHalfClose) {
  Listener l;
  unsigned int c = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, c));
  bool inProgress = true;
  ASSERT_TRUE(osSoctConnect(nullptr, c, l.Address(), &inProgress));
  EXPECT_FALSE(inProgress);

  unsigned int s = 0;
  tKV_InetAddress peer = At(1, 1);
  bool wouldBlock = true;
  ASSERT_TRUE(osSoctAccept(nullptr, l.s, s, &peer, &wouldBlock));
  EXPECT_TRUE(wouldBlock);  // untouched on success
  EXPECT_EQ(peer.address, Loopback());
  EXPECT_EQ(peer.port, LocalPort(c));
  EXPECT_FALSE(IsNonblocking(s));

  tKV_InetAddress other = At(0, 0);
  ASSERT_TRUE(osSoctGetPeerName(nullptr, c, other));
  EXPECT_EQ(other.address, Loopback());
  EXPECT_EQ(other.port, l.port);

  unsigned char const hello[] = "hello, world";
  EXPECT_EQ(osSoctSend(nullptr, c, hello, 12, &wouldBlock), 12);
  EXPECT_FALSE(wouldBlock);
  unsigned int ready = 0;
  for (int i = 0; i < 1000 && ready < 12; ++i) {
    ASSERT_TRUE(osSockGetReadSize(nullptr, s, ready));
    if (ready < 12) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(ready, 12u);
  unsigned char buf[64] = {};
  EXPECT_EQ(osSoctRecv(nullptr, s, buf, 5, &wouldBlock), 5);
  EXPECT_EQ(osSoctRecv(nullptr, s, buf + 5, sizeof buf - 5, nullptr), 7);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 12), "hello, world");

  // Length 0 moves nothing and is no failure.
  EXPECT_EQ(osSoctSend(nullptr, c, hello, 0, &wouldBlock), 0);
  EXPECT_FALSE(wouldBlock);

  // Half-close: the server reads the end, then still answers.
  ASSERT_TRUE(osSoctShutdown(nullptr, c, eSoctShutdownSend));
  wouldBlock = true;
  EXPECT_EQ(osSoctRecv(nullptr, s, buf, sizeof buf, &wouldBlock), 0);
  EXPECT_FALSE(wouldBlock);
  EXPECT_EQ(osSoctSend(nullptr, s, hello, 5, nullptr), 5);
  EXPECT_EQ(osSoctRecv(nullptr, c, buf, sizeof buf, nullptr), 5);
  int pending = -1;
  EXPECT_TRUE(osSoctGetOpt_SO_ERROR(nullptr, c, pending));
  EXPECT_EQ(pending, 0);

  // Shutdown modes other than 0 and 1 stop both directions.
  ASSERT_TRUE(osSoctShutdown(nullptr, s, static_cast<eSoctShutdownMode>(7)));
  cKV_Error err;
  EXPECT_EQ(osSoctSend(&err, s, hello, 5, nullptr), -1);
  ExpectReport(err, Fmt("Send failed on socket %u. Bytes requested to send=%u. WSAGetLastError()=", s, 5) +
                        std::to_string(EPIPE));
  EXPECT_TRUE(SigpipeIsDefault());

  osSoctClose(nullptr, c);
  osSoctClose(nullptr, s);
}

TEST(Socket, NonblockingCallsReportWouldBlockAsTheirFlagsSay) {
  Listener l;
  ASSERT_TRUE(osSoctSetNonblock(nullptr, l.s, true));
  EXPECT_TRUE(IsNonblocking(l.s));

  // Accept with nothing waiting: a report and the flag.
  cKV_Error err;
  unsigned int s = 99;
  bool wouldBlock = false;
  EXPECT_FALSE(osSoctAccept(&err, l.s, s, nullptr, &wouldBlock));
  EXPECT_TRUE(wouldBlock);
  EXPECT_EQ(s, 0u);
  ExpectReport(err, Fmt("Failed to accept new connection. Socket:%u, WSAGetLastError()=%d", l.s, EAGAIN));

  // Connect of a non-blocking socket: in progress, nothing reported.
  unsigned int c = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, c));
  ASSERT_TRUE(osSoctSetNonblock(nullptr, c, true));
  cKV_Error untouched;
  untouched.Set(1, "u", 2, "keep");
  bool inProgress = false;
  bool connected = osSoctConnect(&untouched, c, l.Address(), &inProgress);
  if (!connected) {
    EXPECT_TRUE(inProgress);
  }
  EXPECT_STREQ(untouched.GetText(), "keep");

  cFD_SET* w = cFD_SET::Create(nullptr);
  w->Add(c);
  EXPECT_EQ(osSoctSelect(nullptr, 0, nullptr, w, nullptr, 10000), 1);
  cFD_SET::Delete(w);
  int pending = -1;
  ASSERT_TRUE(osSoctGetOpt_SO_ERROR(nullptr, c, pending));
  EXPECT_EQ(pending, 0);

  // The accepted socket keeps the listener's non-blocking mode.
  tKV_InetAddress peer = At(0, 0);
  for (int i = 0; i < 1000 && !osSoctAccept(nullptr, l.s, s, &peer, &wouldBlock); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_NE(s, 0u);
  EXPECT_TRUE(IsNonblocking(s));
  EXPECT_TRUE(IsCloseOnExec(s));

  // Nothing to read yet: 0, the flag set, no report.
  unsigned char buf[4096];
  wouldBlock = false;
  EXPECT_EQ(osSoctRecv(&untouched, s, buf, sizeof buf, &wouldBlock), 0);
  EXPECT_TRUE(wouldBlock);
  EXPECT_STREQ(untouched.GetText(), "keep");

  // Sending into a full pipe: partial counts, then 0 with the flag.
  std::vector<unsigned char> block(1 << 20, 0x5a);
  long sent = 0;
  int n = 0;
  for (int i = 0; i < 1000; ++i) {
    n = osSoctSend(&untouched, c, block.data(), static_cast<int>(block.size()), &wouldBlock);
    ASSERT_GE(n, 0);
    sent += n;
    if (n == 0) break;
  }
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(wouldBlock);
  EXPECT_STREQ(untouched.GetText(), "keep");
  // Everything sent arrives, in order.
  long got = 0;
  while (got < sent) {
    int r = osSoctRecv(nullptr, s, buf, sizeof buf, &wouldBlock);
    ASSERT_GE(r, 0);
    if (r == 0) {
      ASSERT_TRUE(wouldBlock);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int i = 0; i < r; ++i) ASSERT_EQ(buf[i], 0x5a);
    got += r;
  }

  // After the peer closes: 0 without the flag.
  osSoctClose(nullptr, c);
  for (int i = 0; i < 1000; ++i) {
    if (osSoctRecv(nullptr, s, buf, sizeof buf, &wouldBlock) == 0 && !wouldBlock) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(wouldBlock);

  // Blocking again.
  ASSERT_TRUE(osSoctSetNonblock(nullptr, s, false));
  EXPECT_FALSE(IsNonblocking(s));
  osSoctClose(nullptr, s);
}

TEST(Socket, ConnectToAClosedPortIsReportedWithALineFeed) {
  unsigned short port;
  {
    Listener gone;  // a port that was just free
    port = gone.port;
  }
  unsigned int c = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, c));
  cKV_Error err;
  bool inProgress = true;
  EXPECT_FALSE(osSoctConnect(&err, c, At(inet_addr("127.0.0.1"), port), &inProgress));
  EXPECT_FALSE(inProgress);
  ExpectReport(err, Fmt("Failed to connect socket %u to ip=127.0.0.1, port=%d. WSAGetLastError()=", c, port) +
                        std::to_string(ECONNREFUSED) + "\n");

  tKV_InetAddress untouched = At(5, 5);
  EXPECT_FALSE(osSoctGetPeerName(&err, c, untouched));
  EXPECT_EQ(untouched.address, 5u);
  ExpectReport(err, Fmt("Failed to get socket peer name. Socket:%u, WSAGetLastError()=%d", c, ENOTCONN));
  osSoctClose(nullptr, c);
}

// A peer that resets or vanishes mid-transfer gives failures, never SIGPIPE.
TEST(Socket, PeerResetAndVanishingPeerGiveFailuresNotSignals) {
  ASSERT_TRUE(SigpipeIsDefault());
  {
    Pair p;
    ASSERT_TRUE(osSoctSetOpt_SO_LINGER(nullptr, p.server, true, 0));
    unsigned int server = p.server;
    ASSERT_TRUE(osSoctClose(nullptr, server));  // linger 0: a reset
    p.server = 0;
    unsigned char buf[16];
    cKV_Error err;
    int r = 0;
    for (int i = 0; i < 1000; ++i) {
      r = osSoctRecv(&err, p.client, buf, sizeof buf, nullptr);
      if (r != 0) break;
    }
    EXPECT_EQ(r, -1);
    ExpectReport(err, Fmt("Recv failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=", p.client, 16) +
                          std::to_string(ECONNRESET));
    std::vector<unsigned char> data(65536, 1);
    EXPECT_EQ(osSoctSend(&err, p.client, data.data(), 65536, nullptr), -1);
    EXPECT_EQ(err.GetCode(), 6);
  }

  // A child that reads a little and is killed while we keep sending.
  Listener l;
  pid_t child = fork();
  if (child == 0) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(l.port);
    sa.sin_addr.s_addr = Loopback();
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) _exit(1);
    char buf[1000];
    ssize_t n = read(fd, buf, sizeof buf);
    (void)n;
    for (;;) pause();
  }
  unsigned int s = 0;
  ASSERT_TRUE(osSoctAccept(nullptr, l.s, s, nullptr, nullptr));
  std::vector<unsigned char> data(65536, 2);
  cKV_Error err;
  ASSERT_GT(osSoctSend(&err, s, data.data(), 100, nullptr), 0);
  std::atomic<bool> killed{false};
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(child, SIGKILL);
    killed = true;
  });
  int r = 0;
  for (int i = 0; i < 100000 && r >= 0; ++i) r = osSoctSend(&err, s, data.data(), 65536, nullptr);
  killer.join();
  waitpid(child, nullptr, 0);
  EXPECT_EQ(r, -1);
  EXPECT_EQ(err.GetCode(), 6);
  std::string text = static_cast<char const*>(err.GetText());
  EXPECT_TRUE(text.find("=" + std::to_string(EPIPE)) != std::string::npos ||
              text.find("=" + std::to_string(ECONNRESET)) != std::string::npos)
      << text;
  EXPECT_TRUE(SigpipeIsDefault());
  osSoctClose(nullptr, s);
}

TEST(Socket, DatagramsTreatWouldBlockAsFailure) {
  unsigned int a = 0, b = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, a));
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, b));
  ASSERT_TRUE(osSoctBind(nullptr, a, At(Loopback(), 0), nullptr));
  ASSERT_TRUE(osSoctBind(nullptr, b, At(Loopback(), 0), nullptr));
  tKV_InetAddress toA = At(Loopback(), LocalPort(a));

  unsigned char const msg[] = "datagram";
  EXPECT_EQ(osSoctSendTo(nullptr, b, msg, 8, toA), 8);
  unsigned char buf[64] = {};
  tKV_InetAddress from = At(0, 0);
  unsigned int count = 0;
  ASSERT_TRUE(osSoctRecvFrom(nullptr, a, buf, sizeof buf, from, &count));
  EXPECT_EQ(count, 8u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 8), "datagram");
  EXPECT_EQ(from.address, Loopback());
  EXPECT_EQ(from.port, LocalPort(b));

  // An empty datagram is one too.
  EXPECT_EQ(osSoctSendTo(nullptr, b, msg, 0, toA), 0);
  count = 5;
  ASSERT_TRUE(osSoctRecvFrom(nullptr, a, buf, sizeof buf, from, &count));
  EXPECT_EQ(count, 0u);

  // A datagram longer than the buffer: the part fits, the rest is lost and
  // the call fails.
  EXPECT_EQ(osSoctSendTo(nullptr, b, msg, 8, toA), 8);
  EXPECT_EQ(osSoctSendTo(nullptr, b, msg, 3, toA), 3);
  cKV_Error err;
  from = At(7, 7);
  count = 99;
  EXPECT_FALSE(osSoctRecvFrom(&err, a, buf, 4, from, &count));
  ExpectReport(err, Fmt("Recvfrom failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=", a, 4) +
                        std::to_string(EMSGSIZE));
  EXPECT_EQ(from.address, 7u);
  EXPECT_EQ(count, 99u);
  ASSERT_TRUE(osSoctRecvFrom(nullptr, a, buf, sizeof buf, from, nullptr));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "dat");

  // Nothing waiting on a non-blocking socket is a reported failure here.
  ASSERT_TRUE(osSoctSetNonblock(nullptr, a, true));
  EXPECT_FALSE(osSoctRecvFrom(&err, a, buf, sizeof buf, from, &count));
  ExpectReport(err, Fmt("Recvfrom failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=", a, 64) +
                        std::to_string(EAGAIN));
  EXPECT_EQ(count, 99u);

  EXPECT_EQ(osSoctSendTo(&err, b, msg, -1, toA), -1);
  ExpectReport(err, Fmt("Sendto failed on socket %u. Bytes requested to send=%u. WSAGetLastError()=", b, -1) +
                        std::to_string(EINVAL));
  EXPECT_NE(std::string(err.GetText()).find("=4294967295."), std::string::npos);
  osSoctClose(nullptr, a);
  osSoctClose(nullptr, b);
}

TEST(Socket, BadLengthsAndNullPointers) {
  Pair p;
  cKV_Error err;
  bool flag = true;
  unsigned char buf[8];
  EXPECT_EQ(osSoctRecv(&err, p.server, buf, -5, &flag), -1);
  EXPECT_FALSE(flag);
  ExpectReport(err, "Recv failed on socket " + std::to_string(p.server) +
                        ". Bytes requested to read=4294967291. WSAGetLastError()=" + std::to_string(EINVAL));
  EXPECT_EQ(osSoctSend(&err, p.client, buf, -1, &flag), -1);
  EXPECT_EQ(osSoctSend(nullptr, p.client, buf, -1, nullptr), -1);
  // A null buffer with a length is the host's fault to refuse, not a crash.
  EXPECT_EQ(osSoctSend(&err, p.client, nullptr, 4, nullptr), -1);
  ExpectReport(err, "Send failed on socket " + std::to_string(p.client) +
                        ". Bytes requested to send=4. WSAGetLastError()=" + std::to_string(EFAULT));
  // A zero-length receive takes nothing from what is waiting.
  ASSERT_EQ(osSoctSend(nullptr, p.client, buf, 1, nullptr), 1);
  unsigned int ready = 0;
  for (int i = 0; i < 1000 && ready == 0; ++i) osSockGetReadSize(nullptr, p.server, ready);
  EXPECT_EQ(osSoctRecv(nullptr, p.server, buf, 0, &flag), 0);
  EXPECT_FALSE(flag);
  EXPECT_TRUE(osSockGetReadSize(nullptr, p.server, ready));
  EXPECT_EQ(ready, 1u);
}

TEST(Socket, OptionsReachTheHost) {
  Pair p;
  auto get = [](unsigned int s, int level, int name) {
    int v = -1;
    socklen_t len = sizeof v;
    getsockopt(static_cast<int>(s), level, name, &v, &len);
    return v;
  };
  ASSERT_TRUE(osSoctSetOpt_TCP_NODELAY(nullptr, p.client, true));
  EXPECT_NE(get(p.client, IPPROTO_TCP, TCP_NODELAY), 0);
  ASSERT_TRUE(osSoctSetOpt_TCP_NODELAY(nullptr, p.client, false));
  EXPECT_EQ(get(p.client, IPPROTO_TCP, TCP_NODELAY), 0);
  ASSERT_TRUE(osSoctSetOpt_SO_REUSEADDR(nullptr, p.client, true));
  EXPECT_NE(get(p.client, SOL_SOCKET, SO_REUSEADDR), 0);

  ASSERT_TRUE(osSoctSetOpt_SO_LINGER(nullptr, p.client, true, 70000));
  linger l{};
  socklen_t len = sizeof l;
  getsockopt(static_cast<int>(p.client), SOL_SOCKET, SO_LINGER, &l, &len);
  EXPECT_EQ(l.l_onoff, 1);
  EXPECT_EQ(l.l_linger, 4464);

  unsigned int u = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctUDP, u));
  ASSERT_TRUE(osSoctSetOpt_IP_MULTICAST_TTL(nullptr, u, 7));
  EXPECT_EQ(get(u, IPPROTO_IP, IP_MULTICAST_TTL), 7);
  ASSERT_TRUE(osSoctSetOpt_IP_MULTICAST_LOOP(nullptr, u, false));
  EXPECT_EQ(get(u, IPPROTO_IP, IP_MULTICAST_LOOP), 0);

  cKV_Error err;
  EXPECT_FALSE(osSoctSetOpt_IP_MULTICAST_TTL(&err, u, 300));
  ExpectReport(err, "Set multicast IP_MULTICAST_TTL=300 failed. WSAGetLastError()=" + std::to_string(EINVAL));
  unsigned int zero = 0;
  EXPECT_FALSE(osSoctSetOpt_IP_MULTICAST_LOOP(&err, zero, true));
  ExpectReport(err, "Set multicast IP_MULTICAST_LOOP=1 failed. WSAGetLastError()=" + std::to_string(ENOTSOCK));
  EXPECT_FALSE(osSoctSetOpt_SO_LINGER(&err, zero, true, 70000));
  ExpectReport(err, "Set SO_LINGER=(1,70000) failed. WSAGetLastError()=" + std::to_string(ENOTSOCK));
  EXPECT_FALSE(osSoctSetOpt_TCP_NODELAY(&err, u, true));  // not a TCP socket
  ExpectReport(err, Fmt("setsockopt with TCP_NODELAY failed on socket %u. WSAGetLastError()=%d", u, ENOPROTOOPT));
  {
    ScopedFault f("sock.setopt", ENOBUFS);
    EXPECT_FALSE(osSoctSetOpt_SO_REUSEADDR(&err, u, true));
    ExpectReport(err, Fmt("setsockopt with SO_REUSEADDR failed on socket %u. WSAGetLastError()=%d", u, ENOBUFS));
  }
  {
    ScopedFault f("sock.getopt", EBADF);
    int v = 0;
    EXPECT_FALSE(osSoctGetOpt_SO_ERROR(&err, u, v));
    EXPECT_EQ(std::string(err.GetText()),
              "getsockopt with SO_ERROR failed on socket " + std::to_string(u) + ". " +
                  static_cast<char const*>(osGetSysErrorStr(EBADF)));
  }
  osSoctClose(nullptr, u);
}

TEST(Socket, ByteOrder) {
  EXPECT_EQ(osSoctHtonq(0x0102030405060708ULL), 0x0807060504030201ULL);
  EXPECT_EQ(osSoctNtohq(osSoctHtonq(0xFEDCBA9876543210ULL)), 0xFEDCBA9876543210ULL);
  EXPECT_EQ(osSoctHtonl(0x0A000001u), inet_addr("10.0.0.1"));
  EXPECT_EQ(osSoctNtohl(inet_addr("10.0.0.1")), 0x0A000001u);
  unsigned short port = osSoctHtons(0x1234);
  unsigned char b[2];
  std::memcpy(b, &port, 2);
  EXPECT_EQ(b[0], 0x12);
  EXPECT_EQ(b[1], 0x34);
  EXPECT_EQ(osSoctNtohs(port), 0x1234);
}

// Signals do not cut blocking calls short: they go on as if nothing came.
TEST(Socket, BlockingCallsResumeAfterSignals) {
  InstallInterruptingHandler(SIGUSR1);
  Listener l;
  std::atomic<int> stage{0};
  unsigned int accepted = 0;
  int received = -2;
  unsigned char buf[16] = {};
  pthread_t waiter{};
  std::thread t([&] {
    waiter = pthread_self();
    stage = 1;
    cKV_Error err;
    if (!osSoctAccept(&err, l.s, accepted, nullptr, nullptr)) return;
    stage = 2;
    received = osSoctRecv(&err, accepted, buf, sizeof buf, nullptr);
  });
  while (stage.load() < 1) std::this_thread::yield();
  auto poke = [&] {
    for (int i = 0; i < 5; ++i) {
      pthread_kill(waiter, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  };
  poke();
  unsigned int c = 0;
  ASSERT_TRUE(osSoctCreate(nullptr, eSoctTCP, c));
  ASSERT_TRUE(osSoctConnect(nullptr, c, l.Address(), nullptr));
  while (stage.load() < 2) std::this_thread::yield();
  poke();
  unsigned char const msg[] = "after";
  ASSERT_EQ(osSoctSend(nullptr, c, msg, 5, nullptr), 5);
  t.join();
  EXPECT_EQ(received, 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "after");
  osSoctClose(nullptr, c);
  osSoctClose(nullptr, accepted);
  signal(SIGUSR1, SIG_DFL);
}

}  // namespace
