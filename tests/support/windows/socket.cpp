// The Windows part of the socket suites' plumbing: Winsock asked directly.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <vector>

#include "unit/ossocket_helpers.h"

namespace nettest {

int HostSockError(SockErr kind) {
  switch (kind) {
    case SockErr::kAddressInUse:
      return WSAEADDRINUSE;
    case SockErr::kAddressNotAvailable:
      return WSAEADDRNOTAVAIL;
    case SockErr::kWouldBlock:
      return WSAEWOULDBLOCK;
    case SockErr::kNotSocket:
      return WSAENOTSOCK;
    case SockErr::kNothingOpen:
      return WSAENOTSOCK;
    case SockErr::kRefused:
      return WSAECONNREFUSED;
    case SockErr::kReset:
      return WSAECONNRESET;
    case SockErr::kNotConnected:
      return WSAENOTCONN;
    case SockErr::kMessageSize:
      return WSAEMSGSIZE;
    case SockErr::kInvalid:
      return WSAEINVAL;
    case SockErr::kFault:
      return WSAEFAULT;
    case SockErr::kNoProtocolOption:
      return WSAENOPROTOOPT;
    case SockErr::kShutDown:
      return WSAESHUTDOWN;
    case SockErr::kNoMemory:
      return WSAENOBUFS;
    case SockErr::kNameNotFound:
      return WSAHOST_NOT_FOUND;
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
  int len = sizeof sa;
  getsockname(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

namespace {
template <class T>
T Get(unsigned int s, int level, int name, T v) {
  int len = sizeof v;
  if (getsockopt(static_cast<SOCKET>(s), level, name, reinterpret_cast<char*>(&v), &len) != 0) return T{};
  return v;
}

// A flag, which the host may answer in one byte (TCP_NODELAY does).
int Flag(unsigned int s, int level, int name) {
  unsigned char v[4] = {};
  int len = sizeof v;
  if (getsockopt(static_cast<SOCKET>(s), level, name, reinterpret_cast<char*>(v), &len) != 0) return -1;
  int value = 0;
  for (int i = len - 1; i >= 0; --i) value = value << 8 | v[i];
  return value;
}
}  // namespace

bool IsStream(unsigned int s) { return Get(s, SOL_SOCKET, SO_TYPE, 0) == SOCK_STREAM; }

bool IsInheritable(unsigned int s) {
  DWORD flags = 0;
  return GetHandleInformation(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(s)), &flags) &&
         (flags & HANDLE_FLAG_INHERIT) != 0;
}

int ReadOption(unsigned int s, Opt which) {
  switch (which) {
    case Opt::kNoDelay:
      return Flag(s, IPPROTO_TCP, TCP_NODELAY);
    case Opt::kReuseAddr:
      return Flag(s, SOL_SOCKET, SO_REUSEADDR);
    case Opt::kMulticastTtl:
      return Flag(s, IPPROTO_IP, IP_MULTICAST_TTL);
    case Opt::kMulticastLoop:
      return Flag(s, IPPROTO_IP, IP_MULTICAST_LOOP);
    case Opt::kLingerOn:
      return Get(s, SOL_SOCKET, SO_LINGER, linger{0xFFFF, 0xFFFF}).l_onoff;
    case Opt::kLingerSeconds:
      return Get(s, SOL_SOCKET, SO_LINGER, linger{0xFFFF, 0xFFFF}).l_linger;
  }
  return -1;
}

bool SendUrgent(unsigned int s) { return send(static_cast<SOCKET>(s), "!", 1, MSG_OOB) == 1; }

void CloseRaw(unsigned int s) { closesocket(static_cast<SOCKET>(s)); }

unsigned int OpenNonSocket() {
  HANDLE h = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  return h == INVALID_HANDLE_VALUE ? 0 : static_cast<unsigned int>(reinterpret_cast<ULONG_PTR>(h));
}

void CloseNonSocket(unsigned int number) { CloseHandle(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(number))); }

namespace {

// The system's list of open handles, as NtQuerySystemInformation gives it
// (SystemExtendedHandleInformation).
struct HandleEntry {
  void* object;
  ULONG_PTR process;
  ULONG_PTR handle;
  ULONG access;
  USHORT backTrace;
  USHORT type;
  ULONG attributes;
  ULONG reserved;
};
struct HandleList {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry entries[1];
};

int CountListedHandles() {
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return -1;
  std::vector<char> buffer(1 << 20);
  for (int round = 0; round < 6; ++round, buffer.resize(buffer.size() * 2)) {
    ULONG length = 0;
    LONG status = query(64, buffer.data(), static_cast<ULONG>(buffer.size()), &length);
    if (status == static_cast<LONG>(0xC0000004)) continue;  // too small
    if (status != 0) return -1;
    auto const* list = reinterpret_cast<HandleList const*>(buffer.data());
    int open = 0;
    for (ULONG_PTR i = 0; i < list->count; ++i) open += list->entries[i].process == GetCurrentProcessId();
    return open;
  }
  return -1;
}

}  // namespace

int OpenHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return static_cast<int>(count);
  // Wine does not keep the count (it answers 0) but lists the handles.
  return CountListedHandles();
}

int HostDropError() {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  ip_mreq request{};
  request.imr_multiaddr.s_addr = htonl(0xEFFF2A61);  // 239.255.42.97, never joined
  int rc = setsockopt(s, IPPROTO_IP, IP_DROP_MEMBERSHIP, reinterpret_cast<char const*>(&request), sizeof request);
  int error = rc == 0 ? 0 : WSAGetLastError();
  closesocket(s);
  return error;
}

bool NonSocketIsOpen(unsigned int number) {
  DWORD flags = 0;
  return GetHandleInformation(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(number)), &flags) != 0;
}

// The host has no per-process limit below its handle table.
OpenLimit::OpenLimit(int) {}
OpenLimit::~OpenLimit() {}

std::string HostNameOfHost() {
  char name[256] = {};
  EXPECT_EQ(gethostname(name, sizeof name - 1), 0);
  return name;
}

}  // namespace nettest
