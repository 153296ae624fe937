// Sockets on Winsock 2.
//
// The host's select takes its sets as a count and a list of sockets, which
// is the library's own set record; the macros are sized for the library's
// 2048 members.
#define FD_SETSIZE 2048
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "OS/host/fault.h"
#include "OS/host/memory.h"
#include "OS/host/socket.h"
#include "OS/windows/loader.h"

namespace Korvane::host {

namespace {

// The layer is started by the load sequence, or, in kv_Os.dll, by the first
// call that needs it (see OS/windows/load.cpp).
constinit std::atomic<bool> g_deferred{false};
constinit bool g_started = false;
INIT_ONCE g_firstUse = INIT_ONCE_STATIC_INIT;

bool StartNow() {
  if (int e = Fault("sock.startup")) {
    ::WSASetLastError(e);
    return false;
  }
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  if (data.wVersion != MAKEWORD(2, 2)) {
    ::WSACleanup();
    return false;
  }
  g_started = true;
  return true;
}

BOOL CALLBACK StartOnFirstUse(INIT_ONCE*, void*, void**) {
  // The same rule as at load: a process without its socket layer ends.
  if (!StartNow()) std::_Exit(-1);
  return TRUE;
}

inline void Layer() {
  if (g_deferred.load(std::memory_order_relaxed)) ::InitOnceExecuteOnce(&g_firstUse, StartOnFirstUse, nullptr, nullptr);
}

bool Failed(char const* point) {
  Layer();
  if (int e = Fault(point)) {
    ::WSASetLastError(e);
    return true;
  }
  return false;
}

// 0 is never a socket; the host is not asked about it.
bool Valid(unsigned int s) {
  if (s != 0) return true;
  ::WSASetLastError(WSAENOTSOCK);
  return false;
}

SOCKET Sock(unsigned int s) { return static_cast<SOCKET>(s); }

sockaddr_in ToHost(SockAddr4 const& a) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(a.port);
  sa.sin_addr.s_addr = a.address;
  return sa;
}

void FromHost(sockaddr_in const& sa, int len, SockAddr4& a) {
  if (len >= static_cast<int>(sizeof sa) && sa.sin_family == AF_INET) {
    a.address = sa.sin_addr.s_addr;
    a.port = ntohs(sa.sin_port);
  } else {
    a.address = 0;
    a.port = 0;
  }
}

// A socket as the API holds it: the host's handles fit 32 bits, and a
// child process never inherits one (`inheritable`: the host made it so).
unsigned int Adopt(SOCKET s, bool inheritable) {
  if (s == INVALID_SOCKET) return 0;
  bool wide = (static_cast<unsigned long long>(s) >> 32) != 0;
  if (wide || (inheritable && !::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0))) {
    int e = wide ? WSAEMFILE : static_cast<int>(::GetLastError());
    ::closesocket(s);
    ::WSASetLastError(e);
    return 0;
  }
  return static_cast<unsigned int>(s);
}

}  // namespace

bool SockLayerStart() noexcept {
  if (win::InLoaderLock()) {
    g_deferred.store(true, std::memory_order_relaxed);
    return true;
  }
  return StartNow();
}

void SockLayerStop() noexcept {
  if (!g_started || win::InLoaderLock()) return;
  ::WSACleanup();
  g_started = false;
}

int SockLastError() noexcept { return ::WSAGetLastError(); }

int SockErrorNumber(SockError kind) noexcept {
  switch (kind) {
    case SockError::kWouldBlock:
    case SockError::kInProgress:  // a non-blocking connect that has begun
      return WSAEWOULDBLOCK;
    case SockError::kAddressInUse:
      return WSAEADDRINUSE;
    case SockError::kInvalid:
      return WSAEINVAL;
    case SockError::kNotSocket:
      return WSAENOTSOCK;
    case SockError::kNoMemory:
      return WSAENOBUFS;
    case SockError::kNameNotFound:
      return WSAHOST_NOT_FOUND;
    case SockError::kNameNoAddress:
      return WSANO_DATA;
  }
  return WSAEINVAL;
}

bool SockErrorIs(int code, SockError kind) noexcept { return code == SockErrorNumber(kind); }

unsigned int SockCreate(bool stream) noexcept {
  if (Failed("sock.create")) return 0;
  int type = stream ? SOCK_STREAM : SOCK_DGRAM, protocol = stream ? IPPROTO_TCP : IPPROTO_UDP;
  // Not inherited from the start where the host can; older hosts refuse the
  // flag and the handle is made private just after.
  SOCKET s = ::WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s != INVALID_SOCKET || ::WSAGetLastError() != WSAEINVAL) return Adopt(s, false);
  return Adopt(::WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED), true);
}

int SockClose(unsigned int s) noexcept {
  Layer();
  if (!Valid(s)) return -1;
  // The host refuses what is no socket (WSAENOTSOCK) without closing it.
  if (Failed("sock.close")) return -1;
  return ::closesocket(Sock(s)) == 0 ? 0 : -1;
}

int SockShutdown(unsigned int s, int how) noexcept {
  if (Failed("sock.shutdown") || !Valid(s)) return -1;
  return ::shutdown(Sock(s), how == 0 ? SD_SEND : how == 1 ? SD_RECEIVE : SD_BOTH) == 0 ? 0 : -1;
}

int SockSetNonblock(unsigned int s, bool on) noexcept {
  if (Failed("sock.nonblock") || !Valid(s)) return -1;
  u_long value = on ? 1 : 0;
  return ::ioctlsocket(Sock(s), FIONBIO, &value) == 0 ? 0 : -1;
}

int SockBind(unsigned int s, SockAddr4 const& at) noexcept {
  if (Failed("sock.bind") || !Valid(s)) return -1;
  sockaddr_in sa = ToHost(at);
  return ::bind(Sock(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 0 : -1;
}

int SockListen(unsigned int s, int backlog) noexcept {
  if (Failed("sock.listen") || !Valid(s)) return -1;
  return ::listen(Sock(s), backlog) == 0 ? 0 : -1;
}

unsigned int SockAccept(unsigned int s, SockAddr4* peer) noexcept {
  if (Failed("sock.accept") || !Valid(s)) return 0;
  sockaddr_in sa;
  int len = sizeof sa;
  // The accepted socket takes the listening socket's properties, its
  // non-blocking mode among them, but is made inheritable.
  unsigned int accepted = Adopt(::accept(Sock(s), reinterpret_cast<sockaddr*>(&sa), &len), true);
  if (accepted != 0 && peer != nullptr) FromHost(sa, len, *peer);
  return accepted;
}

int SockReadSize(unsigned int s, unsigned int& count) noexcept {
  if (Failed("sock.readsize") || !Valid(s)) return -1;
  u_long value = 0;
  if (::ioctlsocket(Sock(s), FIONREAD, &value) != 0) return -1;
  count = static_cast<unsigned int>(value);
  return 0;
}

long SockRecv(unsigned int s, void* buf, int len) noexcept {
  if (Failed("sock.recv") || !Valid(s)) return -1;
  if (len < 0) {
    ::WSASetLastError(WSAEINVAL);
    return -1;
  }
  int n = ::recv(Sock(s), static_cast<char*>(buf), len, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

long SockSend(unsigned int s, void const* buf, int len) noexcept {
  if (Failed("sock.send") || !Valid(s)) return -1;
  if (len < 0) {
    ::WSASetLastError(WSAEINVAL);
    return -1;
  }
  auto const* p = static_cast<char const*>(buf);
  int done = 0;
  // A non-blocking send that filled the buffer meets WSAEWOULDBLOCK on the
  // next round and reports what went.
  for (;;) {
    int n = ::send(Sock(s), p + done, len - done, 0);
    if (n == SOCKET_ERROR) return done > 0 ? done : -1;
    done += n;
    if (done >= len) return done;
  }
}

long SockRecvFrom(unsigned int s, void* buf, unsigned int len, SockAddr4& from) noexcept {
  if (Failed("sock.recvfrom") || !Valid(s)) return -1;
  sockaddr_in sa;
  int salen = sizeof sa;
  // Longer than the buffer: the host fills it and fails with WSAEMSGSIZE.
  int n = ::recvfrom(Sock(s), static_cast<char*>(buf), len > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(len), 0,
                     reinterpret_cast<sockaddr*>(&sa), &salen);
  if (n == SOCKET_ERROR) return -1;
  FromHost(sa, salen, from);
  return n;
}

long SockSendTo(unsigned int s, void const* buf, int len, SockAddr4 const& to) noexcept {
  if (Failed("sock.sendto") || !Valid(s)) return -1;
  if (len < 0) {
    ::WSASetLastError(WSAEINVAL);
    return -1;
  }
  sockaddr_in sa = ToHost(to);
  int n = ::sendto(Sock(s), static_cast<char const*>(buf), len, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  return n == SOCKET_ERROR ? -1 : n;
}

int SockConnect(unsigned int s, SockAddr4 const& to) noexcept {
  if (Failed("sock.connect") || !Valid(s)) return -1;
  sockaddr_in sa = ToHost(to);
  // A non-blocking socket that has begun to connect fails with
  // WSAEWOULDBLOCK, the host's in-progress answer.
  return ::connect(Sock(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 ? 0 : -1;
}

int SockPeerName(unsigned int s, SockAddr4& peer) noexcept {
  if (Failed("sock.peername") || !Valid(s)) return -1;
  sockaddr_in sa;
  int len = sizeof sa;
  if (::getpeername(Sock(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return -1;
  FromHost(sa, len, peer);
  return 0;
}

int SockPendingError(unsigned int s, int& value) noexcept {
  if (Failed("sock.getopt") || !Valid(s)) return -1;
  int result = 0;
  int len = sizeof result;
  if (::getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&result), &len) != 0) return -1;
  value = result;
  return 0;
}

int SockSetOption(unsigned int s, SockOption option, int value) noexcept {
  if (Failed("sock.setopt") || !Valid(s)) return -1;
  int level = SOL_SOCKET, name = SO_REUSEADDR;
  switch (option) {
    case SockOption::TcpNoDelay:
      level = IPPROTO_TCP;
      name = TCP_NODELAY;
      break;
    case SockOption::ReuseAddr:
      break;
    case SockOption::MulticastTtl:
      level = IPPROTO_IP;
      name = IP_MULTICAST_TTL;
      break;
    case SockOption::MulticastLoop:
      level = IPPROTO_IP;
      name = IP_MULTICAST_LOOP;
      break;
  }
  DWORD v = static_cast<DWORD>(value);
  return ::setsockopt(Sock(s), level, name, reinterpret_cast<char const*>(&v), sizeof v) == 0 ? 0 : -1;
}

int SockSetLinger(unsigned int s, unsigned short on, unsigned short seconds) noexcept {
  if (Failed("sock.setopt") || !Valid(s)) return -1;
  linger l{on, seconds};
  return ::setsockopt(Sock(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<char const*>(&l), sizeof l) == 0 ? 0 : -1;
}

int SockMembership(unsigned int s, bool join, unsigned int group) noexcept {
  if (Failed(join ? "sock.join" : "sock.leave") || !Valid(s)) return -1;
  ip_mreq request;
  std::memset(&request, 0, sizeof request);
  request.imr_multiaddr.s_addr = group;
  request.imr_interface.s_addr = htonl(INADDR_ANY);
  return ::setsockopt(Sock(s), IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP,
                      reinterpret_cast<char const*>(&request), sizeof request) == 0
             ? 0
             : -1;
}

namespace {

// The host's set record for `count` members: its count, then the list.
constexpr std::size_t SetBytes(unsigned int count) { return offsetof(fd_set, fd_array) + count * sizeof(SOCKET); }

// Marks the members that the host left in `set`. The host keeps the order
// of the members it leaves; where it would not, each is looked up.
int MarkReady(SockWaitList const& list, fd_set const& set) {
  for (unsigned int i = 0; i < list.count; ++i) list.ready[i] = false;
  unsigned int at = 0;
  for (u_int k = 0; k < set.fd_count; ++k) {
    unsigned int s = static_cast<unsigned int>(set.fd_array[k]);
    unsigned int from = at;
    while (at < list.count && list.sockets[at] != s) ++at;
    if (at == list.count)
      for (at = 0; at < from && list.sockets[at] != s; ++at) {
      }
    if (at < list.count && list.sockets[at] == s) list.ready[at++] = true;
  }
  int ready = 0;
  for (unsigned int i = 0; i < list.count; ++i) ready += list.ready[i];
  return ready;
}

}  // namespace

int SockWait(SockWaitList const (&lists)[3], long long timeoutMs) noexcept {
  if (Failed("sock.poll")) return -1;
  std::size_t total = 0, bytes = 0;
  for (SockWaitList const& list : lists) {
    total += list.count;
    if (list.count > 0) bytes += SetBytes(list.count);
  }
  if (total == 0) {  // the host refuses an empty wait
    ::WSASetLastError(WSAEINVAL);
    return -1;
  }
  // Small waits fit on the stack.
  alignas(fd_set) unsigned char local[3 * SetBytes(0) + 64 * sizeof(SOCKET)];
  unsigned char* block = local;
  if (bytes > sizeof local) {
    block = static_cast<unsigned char*>(Malloc(bytes));
    if (block == nullptr) {
      ::WSASetLastError(WSAENOBUFS);
      return -1;
    }
  }
  fd_set* sets[3] = {};
  unsigned char* at = block;
  int failure = 0;
  for (int k = 0; k < 3; ++k) {
    if (lists[k].count == 0) continue;
    sets[k] = reinterpret_cast<fd_set*>(at);
    at += SetBytes(lists[k].count);
    sets[k]->fd_count = lists[k].count;
    for (unsigned int i = 0; i < lists[k].count; ++i) {
      if (lists[k].sockets[i] == 0) failure = WSAENOTSOCK;
      sets[k]->fd_array[i] = Sock(lists[k].sockets[i]);
    }
  }
  int ready = -1;
  if (failure == 0) {
    timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000 * 1000)};
    ready = ::select(0, sets[0], sets[1], sets[2], timeoutMs < 0 ? nullptr : &limit);
    if (ready == SOCKET_ERROR) failure = ::WSAGetLastError();
  }
  if (failure == 0) {
    ready = 0;
    for (int k = 0; k < 3; ++k)
      if (sets[k] != nullptr) ready += MarkReady(lists[k], *sets[k]);
    // A failed connect is exceptional only. Some hosts (Wine) also call it
    // readable or writable at times; without urgent data waiting, an
    // exceptional socket is a failed connect.
    if (sets[2] != nullptr && sets[2]->fd_count > 0)
      for (int k = 0; k < 2; ++k)
        for (unsigned int i = 0; i < lists[k].count; ++i) {
          if (!lists[k].ready[i]) continue;
          bool exceptional = false;
          for (unsigned int j = 0; j < lists[2].count && !exceptional; ++j)
            exceptional = lists[2].ready[j] && lists[2].sockets[j] == lists[k].sockets[i];
          u_long atMark = 0;
          if (exceptional && ::ioctlsocket(Sock(lists[k].sockets[i]), SIOCATMARK, &atMark) == 0 && atMark != 0) {
            lists[k].ready[i] = false;
            --ready;
          }
        }
  }
  if (block != local) Free(block);
  if (failure != 0) {
    ::WSASetLastError(failure);
    return -1;
  }
  return ready;
}

bool HostName(char* buf, std::size_t cap) noexcept {
  if (Failed("sock.hostname")) return false;
  if (cap == 0 || ::gethostname(buf, cap > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(cap)) != 0) return false;
  buf[cap - 1] = '\0';
  return true;
}

namespace {

// The host's answer lives in storage of the calling thread that the next
// lookup overwrites: it is copied into one block that the answer owns.
bool Keep(hostent const* entry, ResolveAnswer& answer, int& error) {
  if (entry == nullptr) {
    error = ::WSAGetLastError();
    if (error == 0) error = WSAHOST_NOT_FOUND;
    return false;
  }
  std::size_t count = 0;
  while (entry->h_addr_list != nullptr && entry->h_addr_list[count] != nullptr) ++count;
  std::size_t length = entry->h_length > 0 ? static_cast<std::size_t>(entry->h_length) : 0;
  std::size_t nameLength = entry->h_name != nullptr ? std::strlen(entry->h_name) : 0;
  std::size_t bytes = (count + 1) * sizeof(char*) + count * length + nameLength + 1;
  auto* block = static_cast<char*>(Malloc(bytes));
  if (block == nullptr) {
    error = WSANO_RECOVERY;
    return false;
  }
  auto** list = reinterpret_cast<char**>(block);
  char* data = block + (count + 1) * sizeof(char*);
  for (std::size_t i = 0; i < count; ++i, data += length) {
    std::memcpy(data, entry->h_addr_list[i], length);
    list[i] = data;
  }
  list[count] = nullptr;
  if (nameLength > 0) std::memcpy(data, entry->h_name, nameLength);
  data[nameLength] = '\0';
  answer.block = block;
  answer.name = data;
  answer.addresses = list;
  answer.family = entry->h_addrtype == AF_INET ? 4 : 0;
  answer.length = static_cast<int>(length);
  return true;
}

}  // namespace

bool ResolveName(char const* name, ResolveAnswer& answer, int& error) noexcept {
  if (Failed("sock.resolve")) {
    error = ::WSAGetLastError();
    return false;
  }
  return Keep(::gethostbyname(name), answer, error);
}

bool ResolveAddress(unsigned int address, ResolveAnswer& answer, int& error) noexcept {
  if (Failed("sock.resolve")) {
    error = ::WSAGetLastError();
    return false;
  }
  return Keep(::gethostbyaddr(reinterpret_cast<char const*>(&address), sizeof address, AF_INET), answer, error);
}

void ReleaseAnswer(ResolveAnswer& answer) noexcept {
  Free(answer.block);
  answer = ResolveAnswer{};
}

}  // namespace Korvane::host
