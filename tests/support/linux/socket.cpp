// The Linux part of the socket suites' plumbing.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "support/testing.h"
#include "unit/ossocket_helpers.h"

namespace nettest {

int HostSockError(SockErr kind) {
  switch (kind) {
    case SockErr::kAddressInUse:
      return EADDRINUSE;
    case SockErr::kAddressNotAvailable:
      return EADDRNOTAVAIL;
    case SockErr::kWouldBlock:
      return EAGAIN;
    case SockErr::kNotSocket:
      return ENOTSOCK;
    case SockErr::kNothingOpen:
      return EBADF;
    case SockErr::kRefused:
      return ECONNREFUSED;
    case SockErr::kReset:
      return ECONNRESET;
    case SockErr::kNotConnected:
      return ENOTCONN;
    case SockErr::kMessageSize:
      return EMSGSIZE;
    case SockErr::kInvalid:
      return EINVAL;
    case SockErr::kFault:
      return EFAULT;
    case SockErr::kNoProtocolOption:
      return ENOPROTOOPT;
    case SockErr::kShutDown:
      return EPIPE;
    case SockErr::kNoMemory:
      return ENOMEM;
    case SockErr::kNameNotFound:
      return HOST_NOT_FOUND;
  }
  return -1;
}

bool HostParse(char const* text, unsigned int& address) {
  in_addr a{};
  if (inet_pton(AF_INET, text, &a) != 1) return false;
  address = a.s_addr;
  return true;
}

unsigned int Addr(char const* dotted) {
  unsigned int a = 0;
  EXPECT_TRUE(HostParse(dotted, a)) << dotted;
  return a;
}

unsigned short LocalPort(unsigned int s) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

namespace {
template <class T>
T Get(unsigned int s, int level, int name, T v) {
  socklen_t len = sizeof v;
  if (getsockopt(static_cast<int>(s), level, name, &v, &len) != 0) return T{};
  return v;
}
}  // namespace

bool IsStream(unsigned int s) { return Get(s, SOL_SOCKET, SO_TYPE, 0) == SOCK_STREAM; }

bool IsInheritable(unsigned int s) { return (fcntl(static_cast<int>(s), F_GETFD) & FD_CLOEXEC) == 0; }

int ReadOption(unsigned int s, Opt which) {
  switch (which) {
    case Opt::kNoDelay:
      return Get(s, IPPROTO_TCP, TCP_NODELAY, -1);
    case Opt::kReuseAddr:
      return Get(s, SOL_SOCKET, SO_REUSEADDR, -1);
    case Opt::kMulticastTtl:
      return Get(s, IPPROTO_IP, IP_MULTICAST_TTL, -1);
    case Opt::kMulticastLoop:
      return Get(s, IPPROTO_IP, IP_MULTICAST_LOOP, -1);
    case Opt::kLingerOn:
      return Get(s, SOL_SOCKET, SO_LINGER, linger{-1, -1}).l_onoff;
    case Opt::kLingerSeconds:
      return Get(s, SOL_SOCKET, SO_LINGER, linger{-1, -1}).l_linger;
  }
  return -1;
}

bool SendUrgent(unsigned int s) { return send(static_cast<int>(s), "!", 1, MSG_OOB) == 1; }

void CloseRaw(unsigned int s) { close(static_cast<int>(s)); }

unsigned int OpenNonSocket() { return static_cast<unsigned int>(open("/dev/null", O_RDONLY | O_CLOEXEC)); }

void CloseNonSocket(unsigned int number) { close(static_cast<int>(number)); }

int OpenHandles() { return kvtest::OpenFileCount(); }

int HostDropError() {
  int s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  ip_mreq request{};
  request.imr_multiaddr.s_addr = htonl(0xEFFF2A61);  // 239.255.42.97, never joined
  int rc = setsockopt(s, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof request);
  int error = rc == 0 ? 0 : errno;
  close(s);
  return error;
}

bool NonSocketIsOpen(unsigned int number) { return fcntl(static_cast<int>(number), F_GETFD) != -1; }

OpenLimit::OpenLimit(int count) {
  rlimit lim{};
  getrlimit(RLIMIT_NOFILE, &lim);
  saved[0] = static_cast<long long>(lim.rlim_cur);
  saved[1] = static_cast<long long>(lim.rlim_max);
  rlim_t wanted = static_cast<rlim_t>(count) + 64;
  if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < wanted) {
    ok = false;
    why = "the descriptor limit (" + std::to_string(lim.rlim_max) + ") leaves no room for " + std::to_string(count) +
          " sockets";
    return;
  }
  lim.rlim_cur = std::max<rlim_t>(lim.rlim_cur, wanted);
  ok = setrlimit(RLIMIT_NOFILE, &lim) == 0;
  if (!ok) why = "setrlimit refused";
}

// The limit bounds only new descriptors: the open ones stay valid.
OpenLimit::~OpenLimit() {
  rlimit lim{static_cast<rlim_t>(saved[0]), static_cast<rlim_t>(saved[1])};
  setrlimit(RLIMIT_NOFILE, &lim);
}

std::string HostNameOfHost() {
  char name[256] = {};
  EXPECT_EQ(gethostname(name, sizeof name - 1), 0);
  return name;
}

}  // namespace nettest
