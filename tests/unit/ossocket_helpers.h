// Loopback plumbing shared by the socket suites. What asks the host itself
// (its error numbers, its own parser, its view of a socket) is in
// support/<host>/socket.cpp.
#ifndef KV_TESTS_UNIT_OSSOCKET_HELPERS_H
#define KV_TESTS_UNIT_OSSOCKET_HELPERS_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <thread>

#include "OS/ossocket.h"

namespace nettest {

using Korvane::tKV_InetAddress;

// ---- The host's part ----

// The host's numbers for the socket failures that tests look for.
enum class SockErr {
  kAddressInUse,
  kAddressNotAvailable,
  kWouldBlock,
  kNotSocket,
  kNothingOpen,  // a number in the host's range that names nothing open (a closed socket)
  kRefused,
  kReset,
  kNotConnected,
  kMessageSize,
  kInvalid,
  kFault,
  kNoProtocolOption,
  kShutDown,  // sending after the sending side was shut down
  kNoMemory,
  kNameNotFound,
};
int HostSockError(SockErr kind);

// A dotted IPv4 address as the host's own strict parser reads it, in
// network order; false when the host refuses the text.
bool HostParse(char const* text, unsigned int& address);
// The address of a dotted text that the host accepts.
unsigned int Addr(char const* dotted);

// What the host tells about a socket, without the library.
unsigned short LocalPort(unsigned int s);
bool IsStream(unsigned int s);
// Whether a child process would inherit it.
bool IsInheritable(unsigned int s);
enum class Opt { kNoDelay, kReuseAddr, kMulticastTtl, kMulticastLoop, kLingerOn, kLingerSeconds };
// The option's value, or -1 when the host does not tell.
int ReadOption(unsigned int s, Opt which);
// One byte of urgent (out-of-band) data.
bool SendUrgent(unsigned int s);
// Closes the socket without the library.
void CloseRaw(unsigned int s);

// Room for `count` more open sockets for the scope, where the host limits
// them per process; `why` tells what is missing when there is none.
struct OpenLimit {
  explicit OpenLimit(int count);
  ~OpenLimit();
  OpenLimit(OpenLimit const&) = delete;
  OpenLimit& operator=(OpenLimit const&) = delete;
  bool ok = true;
  std::string why;
  long long saved[2] = {};
};

// The host's name as the host itself tells it.
std::string HostNameOfHost();

// Something the process has open that is not a socket (a file), as a
// socket number, and its release.
unsigned int OpenNonSocket();
void CloseNonSocket(unsigned int number);
// Whether it is still open.
bool NonSocketIsOpen(unsigned int number);

// The number of descriptors or handles the process has open (on Windows,
// GetProcessHandleCount's answer, or a count of the open handle values
// where the host does not keep one).
int OpenHandles();

// How many handles `work` leaves open: it runs once for the host's own
// first-use handles, then again between two counts.
template <class F>
int HandlesLeftBy(F work) {
  work();
  int before = OpenHandles();
  work();
  return OpenHandles() - before;
}

// The host's own error for leaving a multicast group never joined.
int HostDropError();

// ---- Loopback plumbing ----

inline unsigned int Loopback() { return Korvane::osSoctHtonl(0x7F000001u); }

inline tKV_InetAddress At(unsigned int address, unsigned short port) { return {address, port}; }

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
  ~Sock() {
    if (s != 0) CloseRaw(s);
  }
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

}  // namespace nettest

#endif
