// Host socket operations: IPv4 sockets, readiness waits and the resolver.
//
// Sockets are the host's descriptors as `unsigned int`. 0 is never a socket:
// every operation given 0 fails with ENOTSOCK without touching the
// descriptor, and a number too large for a descriptor fails the same way.
// Each operation returns -1 (or false) with the host error number in errno.
#ifndef KV_OS_HOST_SOCKET_H
#define KV_OS_HOST_SOCKET_H

#include <cstddef>

namespace Korvane::host {

// IPv4 endpoint: address in network order, port in host order.
struct SockAddr4 {
  unsigned int address;
  unsigned short port;
};

// New close-on-exec IPv4 socket (TCP when `stream`, else UDP); never 0.
int SockCreate(bool stream) noexcept;
// Refuses descriptors that are not sockets (ENOTSOCK): a stale number must
// never close the application's files.
int SockClose(unsigned int s) noexcept;
// how: 0 sending, 1 receiving, 2 both.
int SockShutdown(unsigned int s, int how) noexcept;
int SockSetNonblock(unsigned int s, bool on) noexcept;
int SockBind(unsigned int s, SockAddr4 const& at) noexcept;
int SockListen(unsigned int s, int backlog) noexcept;
// The accepted socket (close-on-exec, never 0) keeps the listening socket's
// non-blocking mode. `peer` is filled on success only.
int SockAccept(unsigned int s, SockAddr4* peer) noexcept;
// Bytes readable now without blocking.
int SockReadSize(unsigned int s, unsigned int& count) noexcept;
// One receive; signals do not interrupt it.
long SockRecv(unsigned int s, void* buf, int len) noexcept;
// Sends never raise SIGPIPE. A blocking send returns only when everything
// was handed to the host, as it would without signals; a non-blocking one
// returns what fitted.
long SockSend(unsigned int s, void const* buf, int len) noexcept;
// A datagram longer than `len` fills the buffer, is discarded and fails
// with EMSGSIZE.
long SockRecvFrom(unsigned int s, void* buf, unsigned int len, SockAddr4& from) noexcept;
long SockSendTo(unsigned int s, void const* buf, int len, SockAddr4 const& to) noexcept;
// A non-blocking connect that has begun fails with EINPROGRESS. A blocking
// connect interrupted by a signal is waited for to its end.
int SockConnect(unsigned int s, SockAddr4 const& to) noexcept;
int SockPeerName(unsigned int s, SockAddr4& peer) noexcept;
// Reads and clears the pending error.
int SockPendingError(unsigned int s, int& value) noexcept;

enum class SockOption { TcpNoDelay, ReuseAddr, MulticastTtl, MulticastLoop };
int SockSetOption(unsigned int s, SockOption option, int value) noexcept;
int SockSetLinger(unsigned int s, unsigned short on, unsigned short seconds) noexcept;
// Joins (or leaves) the group on any local interface.
int SockMembership(unsigned int s, bool join, unsigned int group) noexcept;

// Readiness wait over host descriptors. The layout and bits are the host's.
struct PollEntry {
  int fd;
  short events;
  short revents;
};
inline constexpr short kPollIn = 0x001;
inline constexpr short kPollPri = 0x002;
inline constexpr short kPollOut = 0x004;
inline constexpr short kPollErr = 0x008;
inline constexpr short kPollHup = 0x010;
inline constexpr short kPollNval = 0x020;

// Waits at most `timeoutMs` (negative: without limit); an interruption
// continues with the time that is left. Returns the number of entries with
// events, 0 when the time ran out.
int Poll(PollEntry* entries, std::size_t count, long long timeoutMs) noexcept;
// Whether the open descriptor is a socket.
bool SockIsSocket(int fd) noexcept;
// Whether a socket with a pending error failed to connect (as opposed to a
// connection that was established and then broke).
bool SockConnectFailed(int fd) noexcept;

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
// The resolver's error numbers for "no such name" and "no address".
inline constexpr int kResolveNotFound = 1;
inline constexpr int kResolveNoAddress = 4;
// Forward and reverse IPv4 lookups. On failure `error` is the resolver's
// error number and nothing needs releasing.
bool ResolveName(char const* name, ResolveAnswer& answer, int& error) noexcept;
bool ResolveAddress(unsigned int address, ResolveAnswer& answer, int& error) noexcept;
void ReleaseAnswer(ResolveAnswer& answer) noexcept;

}  // namespace Korvane::host

#endif
