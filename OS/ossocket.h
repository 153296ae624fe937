/// \file
/// IPv4 sockets: socket operations, socket sets and select, host names and
/// addresses, multicast groups.
///
/// Sockets are the host's socket numbers as `unsigned int`; 0 means "no
/// socket" and is never handed out. Every fallible call takes an optional
/// cKV_Error* first and reports with code 6 from unit ".\ossocket" (code 8
/// for a failed name lookup, code 7 for memory); the number after
/// "WSAGetLastError()=" is the host's own error number (errno on Linux).
///
/// On Linux:
/// - "Would block" is EAGAIN/EWOULDBLOCK; a non-blocking connect that has
///   begun (EINPROGRESS) sets the in-progress flag. EAGAIN from a connect
///   means the local ports are exhausted and is a failure.
/// - No call raises SIGPIPE, and no signal disposition is changed to get
///   there. Sockets are close-on-exec. Signals interrupt no call: blocking
///   calls resume, and a blocking send returns only when all was sent.
/// - An accepted socket keeps the listening socket's non-blocking mode.
/// - Socket 0, numbers beyond the descriptor range and (for close,
///   non-blocking mode and the read size) descriptors that are not sockets
///   are refused with ENOTSOCK; they are never read, written or closed.
/// - A negative length fails with EINVAL. A datagram longer than the buffer
///   of osSoctRecvFrom fills the buffer, is discarded and fails (EMSGSIZE).
/// - The socket layer needs no start and no clean-up.
#ifndef KV_OS_OSSOCKET_H
#define KV_OS_OSSOCKET_H

#include "OS/osbase.h"
#include "OS/oserror.h"
#include "OS/osstring.h"

namespace Korvane {

/// An IPv4 endpoint.
struct tKV_InetAddress {
  /// The address in network byte order: the first byte in memory is the
  /// first number of the dotted form; 0 binds every local address.
  unsigned int address;
  /// The port in host byte order.
  unsigned short port;
};

/// The kind of socket; any value other than 0 makes a UDP socket.
enum eSoctType {
  /// A TCP stream socket.
  eSoctTCP = 0,
  /// A UDP datagram socket.
  eSoctUDP = 1
};

/// The direction osSoctShutdown stops; any value other than 0 and 1 stops
/// both.
enum eSoctShutdownMode {
  /// Stop sending.
  eSoctShutdownSend = 0,
  /// Stop receiving.
  eSoctShutdownRecv = 1,
  /// Stop both directions.
  eSoctShutdownBoth = 2
};

/// \name Socket operations
/// Each reports on failure with code 6 from ".\ossocket" into the optional
/// error record, which may be null.
/// @{

/// Makes an IPv4 socket.
/// \param err gets "Failed to create TCP socket. WSAGetLastError()=%d" (for
///   both kinds).
/// \param type the kind.
/// \param s gets the new socket, or 0 on failure.
/// \return whether the socket was made.
KV_OS_API bool osSoctCreate(cKV_Error* err, eSoctType type, unsigned int& s);
/// Shuts a socket down in one or both directions.
/// \param err gets "Failed to shutdown socket. Socket:%u, WSAGetLastError()=%d".
/// \param s the socket.
/// \param mode the direction.
/// \return whether it succeeded.
KV_OS_API bool osSoctShutdown(cKV_Error* err, unsigned int& s, eSoctShutdownMode mode);
/// Closes a socket.
/// \param err gets "Failed to close socket. Socket:%u, WSAGetLastError()=%d".
/// \param s the socket; set to 0 on success, left on failure.
/// \return whether it was closed.
KV_OS_API bool osSoctClose(cKV_Error* err, unsigned int& s);
/// Switches non-blocking mode.
/// \param err gets "Failed to set non-blocking flag. Socket:%u,
///   WSAGetLastError()=%d".
/// \param s the socket.
/// \param on true for non-blocking, false for blocking.
/// \return whether it succeeded.
KV_OS_API bool osSoctSetNonblock(cKV_Error* err, unsigned int& s, bool on);
/// Binds a socket to a local address and port.
/// \param err gets "Failed to bind socket. Port=%d, WSAGetLastError()=%d".
/// \param s the socket.
/// \param at the local endpoint.
/// \param addressInUse optional: set to whether a failure was because the
///   address was taken (false on success).
/// \return whether it was bound.
KV_OS_API bool osSoctBind(cKV_Error* err, unsigned int& s, tKV_InetAddress const& at, bool* addressInUse);
/// Makes a socket listen for connections.
/// \param err gets "Failed to place socket into listen state. Socket:%u,
///   WSAGetLastError()=%d".
/// \param s the socket.
/// \param backlog the queue of pending connections, passed on unchanged.
/// \return whether it succeeded.
KV_OS_API bool osSoctListen(cKV_Error* err, unsigned int& s, int backlog);
/// Takes the next connection. An accepted socket keeps the listening
/// socket's non-blocking mode.
/// \param err gets "Failed to accept new connection. Socket:%u,
///   WSAGetLastError()=%d", also when only no connection is waiting.
/// \param listening the listening socket.
/// \param s gets the new socket, or 0 on failure.
/// \param peer optional: gets the peer's endpoint on success.
/// \param wouldBlock optional: on failure set to whether no connection was
///   waiting.
/// \return whether a connection was taken.
KV_OS_API bool osSoctAccept(cKV_Error* err, unsigned int& listening, unsigned int& s, tKV_InetAddress* peer,
                            bool* wouldBlock);
/// The bytes readable now without blocking.
/// \param err gets "Failed to get socket's unblocked read size. Socket:%d,
///   WSAGetLastError()=%d".
/// \param s the socket.
/// \param count gets the count; 0 on failure.
/// \return whether it succeeded.
KV_OS_API bool osSockGetReadSize(cKV_Error* err, unsigned int& s, unsigned int& count);
/// One receive on a stream socket.
/// \param err gets "Recv failed on socket %u. Bytes requested to read=%u.
///   WSAGetLastError()=%d".
/// \param s the socket.
/// \param buf where the bytes go.
/// \param len the most bytes to receive.
/// \param wouldBlock optional: set to whether nothing could be received yet.
/// \return the count received; 0 with `wouldBlock` set when nothing could
///   be received yet (not reported), 0 without it when the peer closed; -1
///   on failure.
KV_OS_API int osSoctRecv(cKV_Error* err, unsigned int& s, unsigned char* buf, int len, bool* wouldBlock);
/// One send on a stream socket; a blocking send returns only when all was
/// sent.
/// \param err gets "Send failed on socket %u. Bytes requested to send=%u.
///   WSAGetLastError()=%d".
/// \param s the socket.
/// \param buf the bytes.
/// \param len the number of bytes.
/// \param wouldBlock optional: set to whether nothing could be sent yet.
/// \return the count sent; 0 with `wouldBlock` set when nothing could be
///   sent yet (not reported); -1 on failure.
KV_OS_API int osSoctSend(cKV_Error* err, unsigned int& s, unsigned char const* buf, int len, bool* wouldBlock);
/// Receives one datagram; "would block" is a reported failure here. A
/// datagram longer than the buffer fills it, is discarded and fails
/// (EMSGSIZE).
/// \param err gets "Recvfrom failed on socket %u. Bytes requested to read=%u.
///   WSAGetLastError()=%d".
/// \param s the socket.
/// \param buf where the datagram goes.
/// \param len the size of the buffer.
/// \param from gets the sender's endpoint on success.
/// \param count optional: gets the datagram's size on success.
/// \return whether a datagram was received.
KV_OS_API bool osSoctRecvFrom(cKV_Error* err, unsigned int& s, unsigned char* buf, unsigned int len,
                              tKV_InetAddress& from, unsigned int* count);
/// Sends one datagram; "would block" is a reported failure here.
/// \param err gets "Sendto failed on socket %u. Bytes requested to send=%u.
///   WSAGetLastError()=%d".
/// \param s the socket.
/// \param buf the datagram.
/// \param len its size.
/// \param to the receiver's endpoint.
/// \return the count sent, or -1 on failure.
KV_OS_API int osSoctSendTo(cKV_Error* err, unsigned int& s, unsigned char const* buf, int len,
                           tKV_InetAddress const& to);
/// Connects a socket.
/// \param err gets "Failed to connect socket %u to ip=%d.%d.%d.%d, port=%d.
///   WSAGetLastError()=%d" and a line feed.
/// \param s the socket.
/// \param to the peer's endpoint.
/// \param inProgress optional: set to whether a non-blocking connect has
///   begun; then wait until the socket is writable and read SO_ERROR.
/// \return whether the connection is made; false with `inProgress` set,
///   and nothing reported, for a connect that has begun.
KV_OS_API bool osSoctConnect(cKV_Error* err, unsigned int& s, tKV_InetAddress const& to, bool* inProgress);
/// The connected peer's endpoint.
/// \param err gets "Failed to get socket peer name. Socket:%u,
///   WSAGetLastError()=%d".
/// \param s the socket.
/// \param peer gets the endpoint on success.
/// \return whether it succeeded.
KV_OS_API bool osSoctGetPeerName(cKV_Error* err, unsigned int& s, tKV_InetAddress& peer);
/// Reads (and so clears) the socket's pending error.
/// \param err gets "getsockopt with SO_ERROR failed on socket %u. %s".
/// \param s the socket.
/// \param value gets the pending error number, 0 for none.
/// \return whether it succeeded.
KV_OS_API bool osSoctGetOpt_SO_ERROR(cKV_Error* err, unsigned int& s, int& value);

/// Switches Nagle's algorithm off (on) or back on (off).
/// \param err gets "setsockopt with TCP_NODELAY failed on socket %u.
///   WSAGetLastError()=%d".
/// \param s the socket.
/// \param on whether TCP_NODELAY is set.
/// \return whether it succeeded.
KV_OS_API bool osSoctSetOpt_TCP_NODELAY(cKV_Error* err, unsigned int& s, bool on);
/// Allows binding to an address in use.
/// \param err gets "setsockopt with SO_REUSEADDR failed on socket %u.
///   WSAGetLastError()=%d".
/// \param s the socket.
/// \param on whether SO_REUSEADDR is set.
/// \return whether it succeeded.
KV_OS_API bool osSoctSetOpt_SO_REUSEADDR(cKV_Error* err, unsigned int& s, bool on);
/// Sets the time to live of outgoing multicast datagrams.
/// \param err gets "Set multicast IP_MULTICAST_TTL=%d failed.
///   WSAGetLastError()=%d".
/// \param s the socket.
/// \param ttl the time to live.
/// \return whether it succeeded.
KV_OS_API bool osSoctSetOpt_IP_MULTICAST_TTL(cKV_Error* err, unsigned int& s, int ttl);
/// Whether this host receives its own multicast datagrams.
/// \param err gets "Set multicast IP_MULTICAST_LOOP=%d failed.
///   WSAGetLastError()=%d".
/// \param s the socket.
/// \param on whether they loop back.
/// \return whether it succeeded.
KV_OS_API bool osSoctSetOpt_IP_MULTICAST_LOOP(cKV_Error* err, unsigned int& s, bool on);
/// Sets lingering on close.
/// \param err gets "Set SO_LINGER=(%d,%d) failed. WSAGetLastError()=%d".
/// \param s the socket.
/// \param on whether a close lingers.
/// \param seconds the linger time, cut to 16 bits (70000 s lingers 4464 s).
/// \return whether it succeeded.
KV_OS_API bool osSoctSetOpt_SO_LINGER(cKV_Error* err, unsigned int& s, bool on, int seconds);

/// \param value a 32-bit number in host order.
/// \return it in network (big-endian) order.
KV_OS_API unsigned int osSoctHtonl(unsigned int value);
/// \param value a 16-bit number in host order.
/// \return it in network (big-endian) order.
KV_OS_API unsigned short osSoctHtons(unsigned short value);
/// \param value a 64-bit number in host order.
/// \return it in network (big-endian) order.
KV_OS_API unsigned long long osSoctHtonq(unsigned long long value);
/// \param value a 32-bit number in network (big-endian) order.
/// \return it in host order.
KV_OS_API unsigned int osSoctNtohl(unsigned int value);
/// \param value a 16-bit number in network (big-endian) order.
/// \return it in host order.
KV_OS_API unsigned short osSoctNtohs(unsigned short value);
/// \param value a 64-bit number in network (big-endian) order.
/// \return it in host order.
KV_OS_API unsigned long long osSoctNtohq(unsigned long long value);
/// @}

/// A set of up to 2048 sockets in the order they were added, for
/// osSoctSelect. Adding a member or adding to a full set, and removing a
/// non-member, change nothing. Not synchronised: do not change a set while
/// another thread uses it. Made by Create, released by Delete.
class KV_OS_API cFD_SET {
 public:
  /// Establishes the interface only.
  cFD_SET() = default;
  /// Establishes the interface only.
  cFD_SET(cFD_SET const&) = default;
  /// Establishes the interface only.
  /// \return this set.
  cFD_SET& operator=(cFD_SET const&) = default;
  /// Releases the set.
  virtual ~cFD_SET();

  /// Takes a socket out of the set.
  /// \param s the socket.
  virtual void Remove(unsigned int s) = 0;
  /// \param s the socket.
  /// \return whether the socket is in the set.
  virtual bool IsSet(unsigned int s) = 0;
  /// Puts a socket into the set, at its end.
  /// \param s the socket.
  virtual void Add(unsigned int s) = 0;
  /// Empties the set.
  virtual void Reset() = 0;

  /// Makes a set.
  /// \param err gets code 7 ".\ossocket" "Failed to allocate memory.
  ///   Requested size:%d" when memory cannot be had; may be null.
  /// \return a new empty set, or null.
  static cFD_SET* Create(cKV_Error* err);
  /// Destroys a set.
  /// \param set the set; null is left alone, otherwise it is set to null.
  static void Delete(cFD_SET*& set);
};

/// Waits until a member of `readSet` is readable (data, a waiting
/// connection, the peer closed or reset), one of `writeSet` writable (also a
/// completed connect) or one of `exceptSet` has an exceptional condition
/// (out-of-band data, a failed non-blocking connect), or until the time
/// runs out. Afterwards each set holds only its ready members, in their
/// order. Signals do not cut the wait short. Descriptors above 1023 work.
/// \param err gets code 6 ".\ossocket" "Socket select failed.
///   WSAGetLastError()=%d"; may be null.
/// \param count ignored.
/// \param readSet the sockets to watch for reading, or null.
/// \param writeSet the sockets to watch for writing, or null.
/// \param exceptSet the sockets to watch for exceptional conditions, or
///   null.
/// \param timeoutMs the most milliseconds to wait; 4294967295 waits without
///   limit.
/// \return the number of ready members over all sets, 0 on time-out, -1 on
///   failure: all sets null or empty (EINVAL), or a member that is not an
///   open socket (ENOTSOCK; an open descriptor of another kind, such as a
///   file or a pipe, is refused as soon as it is ready).
KV_OS_API int osSoctSelect(cKV_Error* err, unsigned int count, cFD_SET* readSet, cFD_SET* writeSet,
                           cFD_SET* exceptSet, unsigned int timeoutMs);

/// \name Host names, addresses and multicast
/// Lookups use the host's thread-safe IPv4 resolver and keep its order.
/// Address arrays are allocated with operator new and released by the
/// caller with delete.
/// @{

/// \return the local host's name, or "localhost" when the host cannot tell.
KV_OS_API cKV_String osGetHostName();
/// The local host's IPv4 addresses.
/// \param count gets the number of addresses.
/// \return the addresses in network order; at least 127.0.0.1 unless
///   memory runs out (then null and a count of 0).
KV_OS_API unsigned int* osGetHostAddr(unsigned int& count);
/// The IPv4 addresses of a named host.
/// \param err gets code 8 ".\ossocket" "Failed to get address by host name
///   [%s]. WSAGetLastError()=%d", the number being the resolver's error
///   number (h_errno); may be null.
/// \param name the host name.
/// \param count gets the number of addresses.
/// \return the addresses in network order, or null when the name does not
///   resolve; an answer without addresses gives an empty array and a count
///   of 0.
KV_OS_API unsigned int* osGetAddrByHostname(cKV_Error* err, char const* name, unsigned int& count);
/// The host name recorded for an address.
/// \param address the address in network order.
/// \param found set to whether a name was found.
/// \return the name, else the address's dotted text.
KV_OS_API cKV_String osGetHostnameByIp(unsigned int address, bool& found);
/// \param address the address in network order.
/// \return "a.b.c.d" from the bytes in memory order.
KV_OS_API cKV_String osGetIpString(unsigned int address);
/// Parses a dotted address, never looking past the length. A fourth number
/// followed by a dot ends the address there ("1.2.3.4.5" gives 1.2.3.4 with
/// 8 consumed).
/// \param text the text.
/// \param length the characters to look at; 0 means up to the NUL.
/// \param consumed optional: gets the characters taken, except for a null
///   or empty text.
/// \return the address in network order, or 0 when the text is not
///   accepted.
KV_OS_API unsigned int IsIp4Address(char const* text, unsigned int length, unsigned int* consumed);

/// Makes a UDP socket bound to the group's port on every local address (no
/// address reuse) and joined to the group on any interface.
/// \param err gets code 6 ".\ossocket" ("Failed to bind socket to port %d.
///   WSAGetLastError()=%d", "Failed to join multicast group.
///   WSAGetLastError()=%d", or what creating the socket reported); may be
///   null.
/// \param s gets the socket; 0 on failure, the socket being closed.
/// \param group the group's address and port.
/// \return whether the socket was made and joined.
KV_OS_API bool osSoctMulticastCreate(cKV_Error* err, unsigned int& s, tKV_InetAddress const& group);
/// Leaves the group and closes the socket, which is closed even when
/// leaving fails.
/// \param err gets code 6 ".\ossocket" "Failed to drop multicast group.
///   WSAGetLastError()=%d" or what closing reported; may be null.
/// \param s the socket; true at once for 0.
/// \param group the group's address and port.
/// \return whether the group was left and the socket closed.
KV_OS_API bool osSoctMulticastClose(cKV_Error* err, unsigned int& s, tKV_InetAddress const& group);
/// @}

}  // namespace Korvane

#endif
