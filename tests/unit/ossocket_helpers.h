// Loopback plumbing shared by the socket suites.
#ifndef KV_TESTS_UNIT_OSSOCKET_HELPERS_H
#define KV_TESTS_UNIT_OSSOCKET_HELPERS_H

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "OS/ossocket.h"

namespace nettest {

using Korvane::tKV_InetAddress;

inline unsigned int Loopback() { return htonl(INADDR_LOOPBACK); }

inline tKV_InetAddress At(unsigned int address, unsigned short port) {
  tKV_InetAddress a;
  a.address = address;
  a.port = port;
  return a;
}

// The port the socket is bound to.
inline unsigned short LocalPort(unsigned int s) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

// A TCP socket listening on an ephemeral loopback port.
struct Listener {
  unsigned int s = 0;
  unsigned short port = 0;
  Listener() {
    EXPECT_TRUE(Korvane::osSoctCreate(nullptr, Korvane::eSoctTCP, s));
    EXPECT_TRUE(Korvane::osSoctBind(nullptr, s, At(Loopback(), 0), nullptr));
    EXPECT_TRUE(Korvane::osSoctListen(nullptr, s, 16));
    port = LocalPort(s);
  }
  ~Listener() {
    if (s != 0) close(static_cast<int>(s));
  }
  tKV_InetAddress Address() const { return At(Loopback(), port); }
};

// A connected pair over loopback: `client` and `server`.
struct Pair {
  unsigned int client = 0, server = 0;
  Pair() {
    Listener l;
    EXPECT_TRUE(Korvane::osSoctCreate(nullptr, Korvane::eSoctTCP, client));
    EXPECT_TRUE(Korvane::osSoctConnect(nullptr, client, l.Address(), nullptr));
    EXPECT_TRUE(Korvane::osSoctAccept(nullptr, l.s, server, nullptr, nullptr));
  }
  ~Pair() {
    if (client != 0) close(static_cast<int>(client));
    if (server != 0) close(static_cast<int>(server));
  }
};

// Number of open descriptors of this process.
inline int OpenDescriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n - 1;  // the directory stream itself
}

inline bool IsCloseOnExec(unsigned int s) { return (fcntl(static_cast<int>(s), F_GETFD) & FD_CLOEXEC) != 0; }

inline bool IsNonblocking(unsigned int s) { return (fcntl(static_cast<int>(s), F_GETFL) & O_NONBLOCK) != 0; }

// Whether SIGPIPE still has its default disposition.
inline bool SigpipeIsDefault() {
  struct sigaction now {};
  sigaction(SIGPIPE, nullptr, &now);
  return now.sa_handler == SIG_DFL;
}

// A handler without SA_RESTART, so that host calls see EINTR.
inline void InstallInterruptingHandler(int signal) {
  struct sigaction sa {};
  sa.sa_handler = [](int) {};
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigaction(signal, &sa, nullptr);
}

}  // namespace nettest

#endif
