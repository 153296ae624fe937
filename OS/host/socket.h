// Host socket operations: IPv4 sockets, readiness waits and the resolver.
//
// Sockets are the host's socket numbers as `unsigned int`, and 0 is never
// one. A number that names no open socket (0, a closed socket, a file or
// pipe of the process, a number out of the host's range) is refused with
// the host's not-a-socket error, and whatever it names is left untouched.
// Failures return -1 (or false, or 0 for a new socket) and leave the host's
// socket error number for SockLastError.
#ifndef KV_OS_HOST_SOCKET_H
#define KV_OS_HOST_SOCKET_H

#include <cstddef>

namespace Korvane::host {

// The host's socket layer, started by the load sequence and stopped at
// unload. False when the host refuses to start it.
bool SockLayerStart() noexcept;
void SockLayerStop() noexcept;

// The calling thread's last socket error number.
int SockLastError() noexcept;

// Kinds of socket failure that change an outcome; each host has its own
// numbers for them.
enum class SockError {
  kWouldBlock,    // the call would have to wait
  kInProgress,    // a non-blocking connect has begun
  kAddressInUse,  // bind: the address is taken
  kInvalid,       // an argument the host cannot take
  kNotSocket,     // the number names no open socket
  kNoMemory,      // the host's resources ran out
  kNameNotFound,  // resolver: no such name
  kNameNoAddress, // resolver: the name has no IPv4 address
};
// The number the host reports for `kind`.
int SockErrorNumber(SockError kind) noexcept;
// Whether `code` is one of the host's numbers for `kind`.
bool SockErrorIs(int code, SockError kind) noexcept;

// IPv4 endpoint: address in network order, port in host order.
struct SockAddr4 {
  unsigned int address;
  unsigned short port;
};

// A new IPv4 socket (TCP when `stream`, else UDP) that child processes do
// not inherit; 0 on failure.
unsigned int SockCreate(bool stream) noexcept;
// A stale number must never close what the process opened since: anything
// that is not a socket is refused.
int SockClose(unsigned int s) noexcept;
// how: 0 sending, 1 receiving, 2 both.
int SockShutdown(unsigned int s, int how) noexcept;
int SockSetNonblock(unsigned int s, bool on) noexcept;
int SockBind(unsigned int s, SockAddr4 const& at) noexcept;
int SockListen(unsigned int s, int backlog) noexcept;
// The accepted socket (not inherited by children) keeps the listening
// socket's non-blocking mode. `peer` is filled on success only. 0 on
// failure.
unsigned int SockAccept(unsigned int s, SockAddr4* peer) noexcept;
// Bytes readable now without blocking.
int SockReadSize(unsigned int s, unsigned int& count) noexcept;
// One receive; signals do not interrupt it.
long SockRecv(unsigned int s, void* buf, int len) noexcept;
// Sends never raise signals. A blocking send returns only when everything
// was handed to the host; a non-blocking one returns what fitted.
long SockSend(unsigned int s, void const* buf, int len) noexcept;
// A datagram longer than `len` fills the buffer, is discarded and fails
// with the host's message-size error.
long SockRecvFrom(unsigned int s, void* buf, unsigned int len, SockAddr4& from) noexcept;
long SockSendTo(unsigned int s, void const* buf, int len, SockAddr4 const& to) noexcept;
// A non-blocking connect that has begun fails with an error of kind
// kInProgress. A blocking connect interrupted by a signal is waited for to
// its end.
int SockConnect(unsigned int s, SockAddr4 const& to) noexcept;
int SockPeerName(unsigned int s, SockAddr4& peer) noexcept;
// Reads and clears the pending error.
int SockPendingError(unsigned int s, int& value) noexcept;

enum class SockOption { TcpNoDelay, ReuseAddr, MulticastTtl, MulticastLoop };
int SockSetOption(unsigned int s, SockOption option, int value) noexcept;
int SockSetLinger(unsigned int s, unsigned short on, unsigned short seconds) noexcept;
// Joins (or leaves) the group on any local interface.
int SockMembership(unsigned int s, bool join, unsigned int group) noexcept;

// One list of a readiness wait: its members, and a flag per member that the
// wait sets when that member is ready.
struct SockWaitList {
  unsigned int const* sockets;
  unsigned int count;
  bool* ready;
};
// Waits until a member of lists[0] is readable, of lists[1] writable or of
// lists[2] exceptional, as the host's select defines these (a connect that
// failed is exceptional, neither readable nor writable), or until
// `timeoutMs` has passed (negative: without limit); an interruption goes on
// with the time that is left. Returns the number of ready members over all
// lists, 0 when the time ran out. A wait without members is refused
// (kInvalid), and so is one with a member that is no open socket
// (kNotSocket); the flags are then undefined.
int SockWait(SockWaitList const (&lists)[3], long long timeoutMs) noexcept;

// The local host's name; false when the host cannot tell it.
bool HostName(char* buf, std::size_t cap) noexcept;

// A resolver answer: the official name and the list of addresses, each
// `length` bytes, in the resolver's order. Owned by the answer.
struct ResolveAnswer {
  void* block = nullptr;
  char const* name = nullptr;
  char const* const* addresses = nullptr;
  int family = 0;  // 4 for IPv4
  int length = 0;
};
// Forward and reverse IPv4 lookups. On failure `error` is the resolver's
// error number and nothing needs releasing.
bool ResolveName(char const* name, ResolveAnswer& answer, int& error) noexcept;
bool ResolveAddress(unsigned int address, ResolveAnswer& answer, int& error) noexcept;
void ReleaseAnswer(ResolveAnswer& answer) noexcept;

}  // namespace Korvane::host

#endif
