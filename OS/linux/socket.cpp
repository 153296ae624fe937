#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/tcp.h>  // the kernel's tcp_info, which knows tcpi_bytes_acked
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>

#include "OS/host/fault.h"
#include "OS/host/memory.h"
#include "OS/host/socket.h"

namespace Korvane::host {

// Nothing to start: the kernel's sockets need no set-up.
bool SockLayerStart() noexcept { return true; }
void SockLayerStop() noexcept {}

int SockLastError() noexcept { return errno; }

int SockErrorNumber(SockError kind) noexcept {
  switch (kind) {
    case SockError::kWouldBlock:
      return EWOULDBLOCK;
    case SockError::kInProgress:
      return EINPROGRESS;
    case SockError::kAddressInUse:
      return EADDRINUSE;
    case SockError::kInvalid:
      return EINVAL;
    case SockError::kNotSocket:
      return ENOTSOCK;
    case SockError::kNoMemory:
      return ENOMEM;
    case SockError::kNameNotFound:
      return HOST_NOT_FOUND;
    case SockError::kNameNoAddress:
      return NO_DATA;
  }
  return EINVAL;
}

bool SockErrorIs(int code, SockError kind) noexcept {
  if (kind == SockError::kWouldBlock && code == EAGAIN) return true;
  return code == SockErrorNumber(kind);
}

namespace {

// 0 (the standard input) and numbers beyond the descriptor range are never
// sockets; refusing them here keeps the host from ever acting on them.
bool AsFd(unsigned int s, int& fd) {
  if (s == 0 || s > static_cast<unsigned int>(INT_MAX)) {
    errno = ENOTSOCK;
    return false;
  }
  fd = static_cast<int>(s);
  return true;
}

bool IsSocket(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if (!S_ISSOCK(st.st_mode)) {
    errno = ENOTSOCK;
    return false;
  }
  return true;
}

// A socket must never be descriptor 0: that number means "no socket".
int OffZero(int fd) {
  if (fd != 0) return fd;
  int moved = fcntl(0, F_DUPFD_CLOEXEC, 1);
  int saved = errno;
  close(0);
  errno = saved;
  return moved;
}

sockaddr_in ToHost(SockAddr4 const& a) {
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(a.port);
  sa.sin_addr.s_addr = a.address;
  return sa;
}

void FromHost(sockaddr_in const& sa, socklen_t len, SockAddr4& a) {
  if (len >= sizeof sa && sa.sin_family == AF_INET) {
    a.address = sa.sin_addr.s_addr;
    a.port = ntohs(sa.sin_port);
  } else {
    a.address = 0;
    a.port = 0;
  }
}

}  // namespace

unsigned int SockCreate(bool stream) noexcept {
  if (int e = Fault("sock.create")) {
    errno = e;
    return 0;
  }
  int fd = socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, stream ? IPPROTO_TCP : IPPROTO_UDP);
  if (fd >= 0) fd = OffZero(fd);
  return fd < 0 ? 0 : static_cast<unsigned int>(fd);
}

int SockClose(unsigned int s) noexcept {
  int fd;
  if (!AsFd(s, fd) || !IsSocket(fd)) return -1;
  if (int e = Fault("sock.close")) {
    errno = e;
    return -1;
  }
  // On Linux the descriptor is gone even when close reports EINTR.
  if (close(fd) != 0 && errno != EINTR) return -1;
  return 0;
}

int SockShutdown(unsigned int s, int how) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault("sock.shutdown")) {
    errno = e;
    return -1;
  }
  return shutdown(fd, how == 0 ? SHUT_WR : how == 1 ? SHUT_RD : SHUT_RDWR);
}

int SockSetNonblock(unsigned int s, bool on) noexcept {
  int fd;
  if (!AsFd(s, fd) || !IsSocket(fd)) return -1;
  if (int e = Fault("sock.nonblock")) {
    errno = e;
    return -1;
  }
  int value = on ? 1 : 0;
  return ioctl(fd, FIONBIO, &value);
}

int SockBind(unsigned int s, SockAddr4 const& at) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault("sock.bind")) {
    errno = e;
    return -1;
  }
  sockaddr_in sa = ToHost(at);
  return bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
}

int SockListen(unsigned int s, int backlog) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault("sock.listen")) {
    errno = e;
    return -1;
  }
  return listen(fd, backlog);
}

unsigned int SockAccept(unsigned int s, SockAddr4* peer) noexcept {
  int fd;
  if (!AsFd(s, fd)) return 0;
  if (int e = Fault("sock.accept")) {
    errno = e;
    return 0;
  }
  int mode = fcntl(fd, F_GETFL);
  if (mode < 0) return 0;
  int flags = SOCK_CLOEXEC | ((mode & O_NONBLOCK) != 0 ? SOCK_NONBLOCK : 0);
  sockaddr_in sa;
  socklen_t len;
  int n;
  do {
    len = sizeof sa;
    n = accept4(fd, reinterpret_cast<sockaddr*>(&sa), &len, flags);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return 0;
  n = OffZero(n);
  if (n < 0) return 0;
  if (peer != nullptr) FromHost(sa, len, *peer);
  return static_cast<unsigned int>(n);
}

int SockReadSize(unsigned int s, unsigned int& count) noexcept {
  int fd;
  if (!AsFd(s, fd) || !IsSocket(fd)) return -1;
  if (int e = Fault("sock.readsize")) {
    errno = e;
    return -1;
  }
  int value = 0;
  if (ioctl(fd, FIONREAD, &value) != 0) return -1;
  count = static_cast<unsigned int>(value);
  return 0;
}

long SockRecv(unsigned int s, void* buf, int len) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault("sock.recv")) {
    errno = e;
    return -1;
  }
  if (len < 0) {
    errno = EINVAL;
    return -1;
  }
  ssize_t n;
  do {
    n = recv(fd, buf, static_cast<std::size_t>(len), 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

long SockSend(unsigned int s, void const* buf, int len) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault("sock.send")) {
    errno = e;
    return -1;
  }
  if (len < 0) {
    errno = EINVAL;
    return -1;
  }
  auto const* p = static_cast<char const*>(buf);
  std::size_t done = 0, total = static_cast<std::size_t>(len);
  // A blocking send comes back short only when a signal cut it: go on. A
  // non-blocking one that filled the buffer meets EAGAIN on the next round
  // and reports what went.
  for (;;) {
    ssize_t n = send(fd, p + done, total - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? static_cast<long>(done) : -1;
    }
    done += static_cast<std::size_t>(n);
    if (done >= total) return static_cast<long>(done);
  }
}

long SockRecvFrom(unsigned int s, void* buf, unsigned int len, SockAddr4& from) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault("sock.recvfrom")) {
    errno = e;
    return -1;
  }
  sockaddr_in sa;
  iovec iov{buf, len};
  msghdr m;
  ssize_t n;
  do {
    std::memset(&m, 0, sizeof m);
    m.msg_name = &sa;
    m.msg_namelen = sizeof sa;
    m.msg_iov = &iov;
    m.msg_iovlen = 1;
    n = recvmsg(fd, &m, 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  if ((m.msg_flags & MSG_TRUNC) != 0) {
    errno = EMSGSIZE;
    return -1;
  }
  FromHost(sa, m.msg_namelen, from);
  return static_cast<long>(n);
}

long SockSendTo(unsigned int s, void const* buf, int len, SockAddr4 const& to) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault("sock.sendto")) {
    errno = e;
    return -1;
  }
  if (len < 0) {
    errno = EINVAL;
    return -1;
  }
  sockaddr_in sa = ToHost(to);
  ssize_t n;
  do {
    n = sendto(fd, buf, static_cast<std::size_t>(len), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

int SockConnect(unsigned int s, SockAddr4 const& to) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault("sock.connect")) {
    errno = e;
    return -1;
  }
  sockaddr_in sa = ToHost(to);
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return 0;
  if (errno != EINTR) return -1;
  // The host goes on connecting after the interruption: wait for the end.
  pollfd p{fd, POLLOUT, 0};
  while (poll(&p, 1, -1) < 0)
    if (errno != EINTR) return -1;
  int result = 0;
  socklen_t len = sizeof result;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &len) != 0) return -1;
  if (result != 0) {
    errno = result;
    return -1;
  }
  return 0;
}

int SockPeerName(unsigned int s, SockAddr4& peer) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault("sock.peername")) {
    errno = e;
    return -1;
  }
  sockaddr_in sa;
  socklen_t len = sizeof sa;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return -1;
  FromHost(sa, len, peer);
  return 0;
}

int SockPendingError(unsigned int s, int& value) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault("sock.getopt")) {
    errno = e;
    return -1;
  }
  int result = 0;
  socklen_t len = sizeof result;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &len) != 0) return -1;
  value = result;
  return 0;
}

int SockSetOption(unsigned int s, SockOption option, int value) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault("sock.setopt")) {
    errno = e;
    return -1;
  }
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
  return setsockopt(fd, level, name, &value, sizeof value);
}

int SockSetLinger(unsigned int s, unsigned short on, unsigned short seconds) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault("sock.setopt")) {
    errno = e;
    return -1;
  }
  linger l{on, seconds};
  return setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

int SockMembership(unsigned int s, bool join, unsigned int group) noexcept {
  int fd;
  if (!AsFd(s, fd)) return -1;
  if (int e = Fault(join ? "sock.join" : "sock.leave")) {
    errno = e;
    return -1;
  }
  ip_mreq request;
  std::memset(&request, 0, sizeof request);
  request.imr_multiaddr.s_addr = group;
  request.imr_interface.s_addr = htonl(INADDR_ANY);
  return setsockopt(fd, IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP, &request, sizeof request);
}

namespace {

// Waits at most `timeoutMs` (negative: without limit); an interruption
// continues with the time that is left.
int Poll(pollfd* fds, std::size_t count, long long timeoutMs) {
  if (int e = Fault("sock.poll")) {
    errno = e;
    return -1;
  }
  if (timeoutMs < 0) {
    for (;;) {
      int n = ppoll(fds, count, nullptr, nullptr);
      if (n >= 0 || errno != EINTR) return n;
    }
  }
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  long long deadline = (static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec) + timeoutMs * 1000000LL;
  for (;;) {
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long left = deadline - (static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    if (left < 0) left = 0;
    timespec span{static_cast<time_t>(left / 1000000000LL), static_cast<long>(left % 1000000000LL)};
    int n = ppoll(fds, count, &span, nullptr);
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool SockIsSocket(int fd) {
  int saved = errno;
  bool socket = IsSocket(fd);
  errno = saved;
  return socket;
}

// Whether a socket with a pending error failed to connect (as opposed to a
// connection that was established and then broke).
bool SockConnectFailed(int fd) {
  tcp_info info;
  std::memset(&info, 0, sizeof info);
  socklen_t len = sizeof info;
  int saved = errno;
  bool ok = getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) == 0;
  errno = saved;
  if (!ok || len < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked) return false;
  // The peer's answer to the SYN counts as one acknowledged byte; an
  // accepted socket acknowledges nothing of the handshake, but counts its
  // last segment as delivered. Neither means the connection never came up.
  bool delivered = len >= offsetof(tcp_info, tcpi_delivered) + sizeof info.tcpi_delivered && info.tcpi_delivered != 0;
  constexpr unsigned char kTcpClose = 7;  // the kernel's TCP_CLOSE state
  return info.tcpi_state == kTcpClose && info.tcpi_bytes_acked == 0 && !delivered;
}

}  // namespace

// select's readiness, from poll: one entry per member and list, so that
// descriptors above 1023 work.
int SockWait(SockWaitList const (&lists)[3], long long timeoutMs) noexcept {
  short const wanted[3] = {POLLIN, POLLOUT, POLLPRI};
  std::size_t total = 0;
  for (SockWaitList const& list : lists) total += list.count;
  if (total == 0) {  // select refuses an empty wait
    errno = EINVAL;
    return -1;
  }
  // Most waits fit on the stack.
  pollfd local[64];
  pollfd* entries = local;
  if (total > 64) {
    entries = static_cast<pollfd*>(Malloc(total * sizeof(pollfd)));
    if (entries == nullptr) {
      errno = ENOMEM;
      return -1;
    }
  }
  int failure = 0;
  std::size_t n = 0;
  for (int k = 0; k < 3 && failure == 0; ++k)
    for (unsigned int i = 0; i < lists[k].count; ++i) {
      int fd;
      if (!AsFd(lists[k].sockets[i], fd)) {
        failure = ENOTSOCK;
        break;
      }
      entries[n++] = pollfd{fd, wanted[k], 0};
    }
  if (failure == 0 && Poll(entries, n, timeoutMs) < 0) failure = errno;
  // An open descriptor that is no socket (a file, a pipe) is refused once
  // it shows ready; asking about every member first would cost a host call
  // per member and wait.
  for (std::size_t i = 0; i < n && failure == 0; ++i)
    if ((entries[i].revents & POLLNVAL) != 0 || (entries[i].revents != 0 && !SockIsSocket(entries[i].fd)))
      failure = ENOTSOCK;
  int ready = 0;
  n = 0;
  for (int k = 0; k < 3 && failure == 0; ++k)
    for (unsigned int i = 0; i < lists[k].count; ++i) {
      pollfd const& p = entries[n++];
      // A socket whose connect failed shows only as exceptional; poll also
      // marks it readable and writable.
      bool failedConnect = (p.revents & POLLERR) != 0 && SockConnectFailed(p.fd);
      bool on = k == 0   ? !failedConnect && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0
                : k == 1 ? !failedConnect && (p.revents & (POLLOUT | POLLHUP | POLLERR)) != 0
                         : failedConnect || (p.revents & POLLPRI) != 0;
      lists[k].ready[i] = on;
      ready += on;
    }
  if (entries != local) Free(entries);
  if (failure != 0) {
    errno = failure;
    return -1;
  }
  return ready;
}

bool HostName(char* buf, std::size_t cap) noexcept {
  if (int e = Fault("sock.hostname")) {
    errno = e;
    return false;
  }
  if (cap == 0 || gethostname(buf, cap) != 0) return false;
  buf[cap - 1] = '\0';
  return true;
}

namespace {

// Runs a reentrant resolver call with a growing scratch block.
template <class Call>
bool Resolve(ResolveAnswer& answer, int& error, Call call) {
  if (int e = Fault("sock.resolve")) {
    error = e;
    return false;
  }
  std::size_t size = 2048;
  for (;;) {
    char* block = static_cast<char*>(Malloc(sizeof(hostent) + size));
    if (block == nullptr) {
      error = NO_RECOVERY;
      return false;
    }
    auto* entry = reinterpret_cast<hostent*>(block);
    hostent* result = nullptr;
    int herr = 0;
    int rc = call(entry, block + sizeof(hostent), size, &result, &herr);
    if (rc == ERANGE && size < (1u << 20)) {
      Free(block);
      size *= 4;
      continue;
    }
    if (rc != 0 || result == nullptr) {
      Free(block);
      error = herr != 0 ? herr : HOST_NOT_FOUND;
      return false;
    }
    answer.block = block;
    answer.name = entry->h_name;
    answer.addresses = entry->h_addr_list;
    answer.family = entry->h_addrtype == AF_INET ? 4 : 0;
    answer.length = entry->h_length;
    return true;
  }
}

}  // namespace

bool ResolveName(char const* name, ResolveAnswer& answer, int& error) noexcept {
  return Resolve(answer, error, [name](hostent* e, char* buf, std::size_t size, hostent** r, int* herr) {
    return gethostbyname_r(name, e, buf, size, r, herr);
  });
}

bool ResolveAddress(unsigned int address, ResolveAnswer& answer, int& error) noexcept {
  return Resolve(answer, error, [&address](hostent* e, char* buf, std::size_t size, hostent** r, int* herr) {
    return gethostbyaddr_r(&address, sizeof address, AF_INET, e, buf, size, r, herr);
  });
}

void ReleaseAnswer(ResolveAnswer& answer) noexcept {
  Free(answer.block);
  answer = ResolveAnswer{};
}

}  // namespace Korvane::host
