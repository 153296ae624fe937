// IPv4 sockets: socket operations, socket sets and select, host names and
// addresses, multicast groups.
//
// Sockets are the host's socket numbers as `unsigned int`; 0 means "no
// socket" and is never handed out. Every fallible call takes an optional
// cKV_Error* first and reports with code 6 from unit ".\ossocket" (code 8
// for a failed name lookup, code 7 for memory); the number after
// "WSAGetLastError()=" is the host's own error number (errno on Linux).
//
// On Linux:
// - "Would block" is EAGAIN/EWOULDBLOCK; a non-blocking connect that has
//   begun (EINPROGRESS) sets the in-progress flag. EAGAIN from a connect
//   means the local ports are exhausted and is a failure.
// - No call raises SIGPIPE, and no signal disposition is changed to get
//   there. Sockets are close-on-exec. Signals interrupt no call: blocking
//   calls resume, and a blocking send returns only when all was sent.
// - An accepted socket keeps the listening socket's non-blocking mode.
// - Socket 0, numbers beyond the descriptor range and (for close,
//   non-blocking mode and the read size) descriptors that are not sockets
//   are refused with ENOTSOCK; they are never read, written or closed.
// - A negative length fails with EINVAL. A datagram longer than the buffer
//   of osSoctRecvFrom fills the buffer, is discarded and fails (EMSGSIZE).
// - The socket layer needs no start and no clean-up.
#ifndef KV_OS_OSSOCKET_H
#define KV_OS_OSSOCKET_H

#include "OS/osbase.h"
#include "OS/oserror.h"
#include "OS/osstring.h"

namespace Korvane {

// An IPv4 endpoint: the address in network byte order (first byte in memory
// is the first number of the dotted form; 0 binds every local address) and
// the port in host byte order.
struct tKV_InetAddress {
  unsigned int address;
  unsigned short port;
};

// Any value other than 0 makes a UDP socket.
enum eSoctType { eSoctTCP = 0, eSoctUDP = 1 };

// Any value other than 0 and 1 stops both directions.
enum eSoctShutdownMode { eSoctShutdownSend = 0, eSoctShutdownRecv = 1, eSoctShutdownBoth = 2 };

// --- Socket operations -----------------------------------------------------

// Stores the new socket, or 0 on failure.
KV_OS_API bool osSoctCreate(cKV_Error* err, eSoctType type, unsigned int& s);
KV_OS_API bool osSoctShutdown(cKV_Error* err, unsigned int& s, eSoctShutdownMode mode);
// Sets `s` to 0 on success; leaves it on failure.
KV_OS_API bool osSoctClose(cKV_Error* err, unsigned int& s);
KV_OS_API bool osSoctSetNonblock(cKV_Error* err, unsigned int& s, bool on);
// `addressInUse` (optional) tells on failure whether the address was taken.
KV_OS_API bool osSoctBind(cKV_Error* err, unsigned int& s, tKV_InetAddress const& at, bool* addressInUse);
KV_OS_API bool osSoctListen(cKV_Error* err, unsigned int& s, int backlog);
// Stores the new socket, or 0 on failure; `peer` is filled on success only.
// Having no connection waiting is reported too, with `wouldBlock` set.
KV_OS_API bool osSoctAccept(cKV_Error* err, unsigned int& listening, unsigned int& s, tKV_InetAddress* peer,
                            bool* wouldBlock);
// Bytes readable now; 0 on failure.
KV_OS_API bool osSockGetReadSize(cKV_Error* err, unsigned int& s, unsigned int& count);
// One receive (or send): the count, 0 with `wouldBlock` set when nothing
// could be moved yet (not reported), 0 without it when the peer closed
// (receive only), -1 on failure.
KV_OS_API int osSoctRecv(cKV_Error* err, unsigned int& s, unsigned char* buf, int len, bool* wouldBlock);
KV_OS_API int osSoctSend(cKV_Error* err, unsigned int& s, unsigned char const* buf, int len, bool* wouldBlock);
// One datagram; "would block" is a reported failure here.
KV_OS_API bool osSoctRecvFrom(cKV_Error* err, unsigned int& s, unsigned char* buf, unsigned int len,
                              tKV_InetAddress& from, unsigned int* count);
KV_OS_API int osSoctSendTo(cKV_Error* err, unsigned int& s, unsigned char const* buf, int len,
                           tKV_InetAddress const& to);
// False with `inProgress` set (and nothing reported) when a non-blocking
// connect has begun: wait until the socket is writable, then read SO_ERROR.
KV_OS_API bool osSoctConnect(cKV_Error* err, unsigned int& s, tKV_InetAddress const& to, bool* inProgress);
KV_OS_API bool osSoctGetPeerName(cKV_Error* err, unsigned int& s, tKV_InetAddress& peer);
// Reads (and so clears) the socket's pending error.
KV_OS_API bool osSoctGetOpt_SO_ERROR(cKV_Error* err, unsigned int& s, int& value);

KV_OS_API bool osSoctSetOpt_TCP_NODELAY(cKV_Error* err, unsigned int& s, bool on);
KV_OS_API bool osSoctSetOpt_SO_REUSEADDR(cKV_Error* err, unsigned int& s, bool on);
KV_OS_API bool osSoctSetOpt_IP_MULTICAST_TTL(cKV_Error* err, unsigned int& s, int ttl);
KV_OS_API bool osSoctSetOpt_IP_MULTICAST_LOOP(cKV_Error* err, unsigned int& s, bool on);
// The time is cut to 16 bits (70000 s lingers 4464 s).
KV_OS_API bool osSoctSetOpt_SO_LINGER(cKV_Error* err, unsigned int& s, bool on, int seconds);

// Network order is big-endian.
KV_OS_API unsigned int osSoctHtonl(unsigned int value);
KV_OS_API unsigned short osSoctHtons(unsigned short value);
KV_OS_API unsigned long long osSoctHtonq(unsigned long long value);
KV_OS_API unsigned int osSoctNtohl(unsigned int value);
KV_OS_API unsigned short osSoctNtohs(unsigned short value);
KV_OS_API unsigned long long osSoctNtohq(unsigned long long value);

// --- Socket sets and select --------------------------------------------------

// A set of up to 2048 sockets in the order they were added. Adding a member
// or adding to a full set, and removing a non-member, change nothing. Not
// synchronised: do not change a set while another thread uses it.
class KV_OS_API cFD_SET {
 public:
  cFD_SET() = default;
  cFD_SET(cFD_SET const&) = default;
  cFD_SET& operator=(cFD_SET const&) = default;
  virtual ~cFD_SET();

  virtual void Remove(unsigned int s) = 0;
  virtual bool IsSet(unsigned int s) = 0;
  virtual void Add(unsigned int s) = 0;
  virtual void Reset() = 0;

  // A new empty set, or null (code 7) when memory cannot be had.
  static cFD_SET* Create(cKV_Error* err);
  // Destroys the set (null is left alone) and sets the pointer to null.
  static void Delete(cFD_SET*& set);
};

// Waits until a member of `readSet` is readable (data, a waiting
// connection, the peer closed or reset), one of `writeSet` writable (also a
// completed connect) or one of `exceptSet` has an exceptional condition
// (out-of-band data, a failed non-blocking connect), or until `timeoutMs`
// ran out (4294967295: no limit). Any set may be null; `count` is ignored.
// Afterwards each set holds only its ready members, in their order. Returns
// the number of ready members over all sets, 0 on time-out, -1 on failure:
// all sets null or empty (EINVAL), or a member that is not an open socket
// (ENOTSOCK; an open descriptor of another kind, such as a file or a pipe,
// is refused as soon as it is ready). Signals do not cut the wait short.
// Descriptors above 1023 work.
KV_OS_API int osSoctSelect(cKV_Error* err, unsigned int count, cFD_SET* readSet, cFD_SET* writeSet,
                           cFD_SET* exceptSet, unsigned int timeoutMs);

// --- Host names, addresses and multicast -------------------------------------
//
// Lookups use the host's thread-safe IPv4 resolver and keep its order.
// Address arrays are allocated with operator new and released by the caller
// with delete.

// The local host's name, or "localhost".
KV_OS_API cKV_String osGetHostName();
// The local host's addresses; at least 127.0.0.1 unless memory runs out
// (then null and a count of 0).
KV_OS_API unsigned int* osGetHostAddr(unsigned int& count);
// Null and code 8 when the name does not resolve; the number after
// "WSAGetLastError()=" is then the resolver's error number (h_errno). An
// answer without addresses gives an empty array and a count of 0.
KV_OS_API unsigned int* osGetAddrByHostname(cKV_Error* err, char const* name, unsigned int& count);
// The recorded name of the address (`found` true), else its dotted text.
KV_OS_API cKV_String osGetHostnameByIp(unsigned int address, bool& found);
// "a.b.c.d" from the bytes in memory order.
KV_OS_API cKV_String osGetIpString(unsigned int address);
// Parses a dotted address in the first `length` characters (0: up to the
// NUL), never looking further. The address in network order, or 0 when the
// text is not accepted; `consumed` (optional) gets the characters taken,
// except for a null or empty text. A fourth number followed by a dot ends
// the address there ("1.2.3.4.5" gives 1.2.3.4 with 8 consumed).
KV_OS_API unsigned int IsIp4Address(char const* text, unsigned int length, unsigned int* consumed);

// A UDP socket bound to the group's port on every local address (no
// address reuse) and joined to the group on any interface. On failure the
// socket is closed and `s` is 0.
KV_OS_API bool osSoctMulticastCreate(cKV_Error* err, unsigned int& s, tKV_InetAddress const& group);
// Leaves the group and closes the socket; true at once for socket 0. The
// socket is closed even when leaving fails.
KV_OS_API bool osSoctMulticastClose(cKV_Error* err, unsigned int& s, tKV_InetAddress const& group);

}  // namespace Korvane

#endif
