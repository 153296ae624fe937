// Loopback plumbing shared by the socket suites.
#ifndef KV_TESTS_UNIT_OSSOCKET_HELPERS_H
#define KV_TESTS_UNIT_OSSOCKET_HELPERS_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <thread>

#include "OS/ossocket.h"

namespace nettest {

using Korvane::tKV_InetAddress;

inline unsigned int Loopback() { return htonl(INADDR_LOOPBACK); }

inline tKV_InetAddress At(unsigned int address, unsigned short port) { return {address, port}; }

inline unsigned short LocalPort(unsigned int s) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

// A socket closed with the scope unless the test closed it (and so set it
// to 0) itself. `bound` binds it to an ephemeral loopback port.
struct Sock {
  unsigned int s = 0;
  explicit Sock(Korvane::eSoctType type = Korvane::eSoctTCP, bool bound = false) {
    EXPECT_TRUE(Korvane::osSoctCreate(nullptr, type, s));
    EXPECT_TRUE(!bound || Korvane::osSoctBind(nullptr, s, At(Loopback(), 0), nullptr));
  }
  explicit Sock(std::nullptr_t) {}  // filled in later
  Sock(Sock const&) = delete;
  ~Sock() { if (s != 0) close(static_cast<int>(s)); }
  operator unsigned int&() { return s; }  // the calls take the number by reference
  tKV_InetAddress Address() const { return At(Loopback(), LocalPort(s)); }
};

// A TCP socket listening on an ephemeral loopback port.
struct Listener : Sock {
  unsigned short port = LocalPort(s);
  Listener() : Sock(Korvane::eSoctTCP, true) { EXPECT_TRUE(Korvane::osSoctListen(nullptr, s, 16)); }
};

// A loopback port that nothing listens on (it was free a moment ago).
inline unsigned short FreePort() { return Listener().port; }

// A connected pair over loopback: `client` and `server`.
struct Pair {
  Sock client, server{nullptr};
  Pair() {
    Listener l;
    EXPECT_TRUE(Korvane::osSoctConnect(nullptr, client, l.Address(), nullptr));
    EXPECT_TRUE(Korvane::osSoctAccept(nullptr, l, server.s, nullptr, nullptr));
  }
};

// A socket set deleted with the scope; Fill replaces the members.
struct Set {
  Korvane::cFD_SET* p = Korvane::cFD_SET::Create(nullptr);
  Set(std::initializer_list<unsigned int> members = {}) { Fill(members); }
  ~Set() { Korvane::cFD_SET::Delete(p); }
  Korvane::cFD_SET* operator->() { return p; }
  Set& Fill(std::initializer_list<unsigned int> members) {
    p->Reset();
    for (unsigned int m : members) p->Add(m);
    return *this;
  }
};

// Waits up to about two seconds for `done`.
template <class F>
bool Eventually(F done) {
  bool ok = false;  // never asked again once true: `done` may take what it waited for (an accept)
  for (int i = 0; i < 2000 && !(ok = done()); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return ok;
}

// Number of open descriptors of this process (below any the tests reach).
inline int OpenDescriptors() {
  int n = 0;
  for (int fd = 0; fd < 8192; ++fd) n += fcntl(fd, F_GETFD) != -1;
  return n;
}

inline bool IsCloseOnExec(unsigned int s) { return (fcntl(static_cast<int>(s), F_GETFD) & FD_CLOEXEC) != 0; }

inline bool IsNonblocking(unsigned int s) { return (fcntl(static_cast<int>(s), F_GETFL) & O_NONBLOCK) != 0; }

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
  sigaction(signal, &sa, nullptr);
}

// Interrupts a waiting thread a few times.
inline void Poke(pthread_t thread, int signal, int times = 5) {
  for (int i = 0; i < times; ++i) {
    pthread_kill(thread, signal);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace nettest

#endif
