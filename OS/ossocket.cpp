#include "OS/ossocket.h"

#include <cstring>
#include <new>

#include "OS/host/fault.h"
#include "OS/host/memory.h"
#include "OS/host/socket.h"
#include "OS/internal/report.h"

namespace Korvane {

namespace {

char const kUnit[] = ".\\ossocket";

using host::SockError;

bool IsWouldBlock(int e) { return host::SockErrorIs(e, SockError::kWouldBlock); }

host::SockAddr4 ToHost(tKV_InetAddress const& a) { return host::SockAddr4{a.address, a.port}; }

tKV_InetAddress FromHost(host::SockAddr4 const& a) {
  tKV_InetAddress r;
  r.address = a.address;
  r.port = a.port;
  return r;
}

void Bytes(unsigned int address, unsigned char (&b)[4]) { std::memcpy(b, &address, 4); }

// Arrays handed to callers, who release them with operator delete.
unsigned int* NewAddresses(unsigned int count) noexcept {
  if (host::Fault("alloc") != 0) return nullptr;
  return static_cast<unsigned int*>(::operator new(count * sizeof(unsigned int), std::nothrow));
}

}  // namespace

// --- Socket operations -----------------------------------------------------

bool osSoctCreate(cKV_Error* err, eSoctType type, unsigned int& s) {
  unsigned int created = host::SockCreate(type == eSoctTCP);
  s = created;
  if (created != 0) return true;
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "Failed to create TCP socket. WSAGetLastError()=%d", e);
}

bool osSoctShutdown(cKV_Error* err, unsigned int& s, eSoctShutdownMode mode) {
  int how = mode == eSoctShutdownSend ? 0 : mode == eSoctShutdownRecv ? 1 : 2;
  if (host::SockShutdown(s, how) == 0) return true;
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "Failed to shutdown socket. Socket:%u, WSAGetLastError()=%d", s, e);
}

bool osSoctClose(cKV_Error* err, unsigned int& s) {
  if (host::SockClose(s) == 0) {
    s = 0;
    return true;
  }
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "Failed to close socket. Socket:%u, WSAGetLastError()=%d", s, e);
}

bool osSoctSetNonblock(cKV_Error* err, unsigned int& s, bool on) {
  if (host::SockSetNonblock(s, on) == 0) return true;
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "Failed to set non-blocking flag. Socket:%u, WSAGetLastError()=%d", s, e);
}

bool osSoctBind(cKV_Error* err, unsigned int& s, tKV_InetAddress const& at, bool* addressInUse) {
  if (host::SockBind(s, ToHost(at)) == 0) {
    if (addressInUse != nullptr) *addressInUse = false;
    return true;
  }
  int e = host::SockLastError();
  if (addressInUse != nullptr) *addressInUse = host::SockErrorIs(e, SockError::kAddressInUse);
  return KV_REPORT(err, 6, kUnit, "Failed to bind socket. Port=%d, WSAGetLastError()=%d", at.port, e);
}

bool osSoctListen(cKV_Error* err, unsigned int& s, int backlog) {
  if (host::SockListen(s, backlog) == 0) return true;
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "Failed to place socket into listen state. Socket:%u, WSAGetLastError()=%d", s, e);
}

bool osSoctAccept(cKV_Error* err, unsigned int& listening, unsigned int& s, tKV_InetAddress* peer,
                  bool* wouldBlock) {
  host::SockAddr4 from{0, 0};
  unsigned int accepted = host::SockAccept(listening, &from);
  if (accepted != 0) {
    s = accepted;
    if (peer != nullptr) *peer = FromHost(from);
    return true;
  }
  int e = host::SockLastError();
  KV_REPORT(err, 6, kUnit, "Failed to accept new connection. Socket:%u, WSAGetLastError()=%d", listening, e);
  if (wouldBlock != nullptr) *wouldBlock = IsWouldBlock(e);
  s = 0;
  return false;
}

bool osSockGetReadSize(cKV_Error* err, unsigned int& s, unsigned int& count) {
  if (host::SockReadSize(s, count) == 0) return true;
  int e = host::SockLastError();
  count = 0;
  return KV_REPORT(err, 6, kUnit, "Failed to get socket's unblocked read size. Socket:%d, WSAGetLastError()=%d",
                   static_cast<int>(s), e);
}

int osSoctRecv(cKV_Error* err, unsigned int& s, unsigned char* buf, int len, bool* wouldBlock) {
  long n = host::SockRecv(s, buf, len);
  int e = n < 0 ? host::SockLastError() : 0;
  if (wouldBlock != nullptr) *wouldBlock = false;
  if (n >= 0) return static_cast<int>(n);
  if (IsWouldBlock(e)) {
    if (wouldBlock != nullptr) *wouldBlock = true;
    return 0;
  }
  KV_REPORT(err, 6, kUnit, "Recv failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=%d", s,
            static_cast<unsigned int>(len), e);
  return -1;
}

int osSoctSend(cKV_Error* err, unsigned int& s, unsigned char const* buf, int len, bool* wouldBlock) {
  long n = host::SockSend(s, buf, len);
  int e = n < 0 ? host::SockLastError() : 0;
  if (wouldBlock != nullptr) *wouldBlock = false;
  if (n >= 0) return static_cast<int>(n);
  if (IsWouldBlock(e)) {
    if (wouldBlock != nullptr) *wouldBlock = true;
    return 0;
  }
  KV_REPORT(err, 6, kUnit, "Send failed on socket %u. Bytes requested to send=%u. WSAGetLastError()=%d", s,
            static_cast<unsigned int>(len), e);
  return -1;
}

bool osSoctRecvFrom(cKV_Error* err, unsigned int& s, unsigned char* buf, unsigned int len, tKV_InetAddress& from,
                    unsigned int* count) {
  host::SockAddr4 sender{0, 0};
  long n = host::SockRecvFrom(s, buf, len, sender);
  if (n >= 0) {
    from = FromHost(sender);
    if (count != nullptr) *count = static_cast<unsigned int>(n);
    return true;
  }
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "Recvfrom failed on socket %u. Bytes requested to read=%u. WSAGetLastError()=%d", s,
                   len, e);
}

int osSoctSendTo(cKV_Error* err, unsigned int& s, unsigned char const* buf, int len, tKV_InetAddress const& to) {
  long n = host::SockSendTo(s, buf, len, ToHost(to));
  if (n >= 0) return static_cast<int>(n);
  int e = host::SockLastError();
  KV_REPORT(err, 6, kUnit, "Sendto failed on socket %u. Bytes requested to send=%u. WSAGetLastError()=%d", s,
            static_cast<unsigned int>(len), e);
  return -1;
}

bool osSoctConnect(cKV_Error* err, unsigned int& s, tKV_InetAddress const& to, bool* inProgress) {
  if (inProgress != nullptr) *inProgress = false;
  if (host::SockConnect(s, ToHost(to)) == 0) return true;
  int e = host::SockLastError();
  if (host::SockErrorIs(e, SockError::kInProgress)) {
    if (inProgress != nullptr) *inProgress = true;
    return false;
  }
  unsigned char b[4];
  Bytes(to.address, b);
  return KV_REPORT(err, 6, kUnit, "Failed to connect socket %u to ip=%d.%d.%d.%d, port=%d. WSAGetLastError()=%d\n", s,
                   b[0], b[1], b[2], b[3], to.port, e);
}

bool osSoctGetPeerName(cKV_Error* err, unsigned int& s, tKV_InetAddress& peer) {
  host::SockAddr4 a{0, 0};
  if (host::SockPeerName(s, a) == 0) {
    peer = FromHost(a);
    return true;
  }
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "Failed to get socket peer name. Socket:%u, WSAGetLastError()=%d", s, e);
}

bool osSoctGetOpt_SO_ERROR(cKV_Error* err, unsigned int& s, int& value) {
  if (host::SockPendingError(s, value) == 0) return true;
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "getsockopt with SO_ERROR failed on socket %u. %s", s,
                   static_cast<char const*>(osGetSysErrorStr(e)));
}

bool osSoctSetOpt_TCP_NODELAY(cKV_Error* err, unsigned int& s, bool on) {
  if (host::SockSetOption(s, host::SockOption::TcpNoDelay, on ? 1 : 0) == 0) return true;
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "setsockopt with TCP_NODELAY failed on socket %u. WSAGetLastError()=%d", s, e);
}

bool osSoctSetOpt_SO_REUSEADDR(cKV_Error* err, unsigned int& s, bool on) {
  if (host::SockSetOption(s, host::SockOption::ReuseAddr, on ? 1 : 0) == 0) return true;
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "setsockopt with SO_REUSEADDR failed on socket %u. WSAGetLastError()=%d", s, e);
}

bool osSoctSetOpt_IP_MULTICAST_TTL(cKV_Error* err, unsigned int& s, int ttl) {
  if (host::SockSetOption(s, host::SockOption::MulticastTtl, ttl) == 0) return true;
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "Set multicast IP_MULTICAST_TTL=%d failed. WSAGetLastError()=%d", ttl, e);
}

bool osSoctSetOpt_IP_MULTICAST_LOOP(cKV_Error* err, unsigned int& s, bool on) {
  if (host::SockSetOption(s, host::SockOption::MulticastLoop, on ? 1 : 0) == 0) return true;
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "Set multicast IP_MULTICAST_LOOP=%d failed. WSAGetLastError()=%d", on ? 1 : 0, e);
}

bool osSoctSetOpt_SO_LINGER(cKV_Error* err, unsigned int& s, bool on, int seconds) {
  if (host::SockSetLinger(s, on ? 1 : 0, static_cast<unsigned short>(seconds)) == 0) return true;
  int e = host::SockLastError();
  return KV_REPORT(err, 6, kUnit, "Set SO_LINGER=(%d,%d) failed. WSAGetLastError()=%d", on ? 1 : 0, seconds, e);
}

namespace {

bool LittleEndian() {
  unsigned int one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1;
}

unsigned long long Swap64(unsigned long long v) {
  unsigned long long r = 0;
  for (int i = 0; i < 8; ++i) r = (r << 8) | ((v >> (8 * i)) & 0xFFu);
  return r;
}

}  // namespace

unsigned int osSoctHtonl(unsigned int value) {
  if (!LittleEndian()) return value;
  return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}

unsigned short osSoctHtons(unsigned short value) {
  if (!LittleEndian()) return value;
  return static_cast<unsigned short>((value >> 8) | (value << 8));
}

unsigned long long osSoctHtonq(unsigned long long value) { return LittleEndian() ? Swap64(value) : value; }
unsigned int osSoctNtohl(unsigned int value) { return osSoctHtonl(value); }
unsigned short osSoctNtohs(unsigned short value) { return osSoctHtons(value); }
unsigned long long osSoctNtohq(unsigned long long value) { return osSoctHtonq(value); }

// --- Socket sets and select --------------------------------------------------

namespace {

constexpr unsigned int kSetCapacity = 2048;

// The set record: the members in the order they were added. A hash of the
// members beside it keeps Add and IsSet from scanning the list, so that
// refilling a full set for every wait stays cheap; the list alone decides
// order and capacity.
class cFD_SETimpl final : public cFD_SET {
 public:
  void Remove(unsigned int s) override {
    if (!Unindex(s)) return;
    for (unsigned int i = 0; i < _count; ++i)
      if (_sockets[i] == s) {
        std::memmove(&_sockets[i], &_sockets[i + 1], (_count - i - 1) * sizeof _sockets[0]);
        --_count;
        return;
      }
  }
  bool IsSet(unsigned int s) override { return Find(s) >= 0; }
  void Add(unsigned int s) override {
    if (_count >= kSetCapacity || Find(s) >= 0) return;
    _sockets[_count++] = s;
    Index(s);
  }
  void Reset() override {
    _count = 0;
    ClearIndex();
  }

  // Keeps the members for which `keep(i)` holds, in order.
  template <class Keep>
  unsigned int Narrow(Keep keep) {
    unsigned int kept = 0;
    for (unsigned int i = 0; i < _count; ++i)
      if (keep(i)) _sockets[kept++] = _sockets[i];
    _count = kept;
    ClearIndex();
    for (unsigned int i = 0; i < _count; ++i) Index(_sockets[i]);
    return kept;
  }

  unsigned int _count = 0;
  unsigned int _sockets[kSetCapacity];

 private:
  // Open addressing with linear probing at most half full. A slot is in
  // use when it carries the current generation, so emptying is O(1).
  static constexpr unsigned int kSlots = 2 * kSetCapacity;
  struct Slot {
    unsigned int key;
    unsigned int generation;
  };

  static unsigned int Home(unsigned int s) { return (s * 2654435761u) >> 20 & (kSlots - 1); }
  bool Used(unsigned int i) const { return _slots[i].generation == _generation; }

  int Find(unsigned int s) const {
    for (unsigned int i = Home(s); Used(i); i = (i + 1) & (kSlots - 1))
      if (_slots[i].key == s) return static_cast<int>(i);
    return -1;
  }
  void Index(unsigned int s) {
    unsigned int i = Home(s);
    while (Used(i)) i = (i + 1) & (kSlots - 1);
    _slots[i] = Slot{s, _generation};
  }
  // Removes `s`, moving later entries of its probe run back into the gap.
  bool Unindex(unsigned int s) {
    int at = Find(s);
    if (at < 0) return false;
    unsigned int gap = static_cast<unsigned int>(at);
    _slots[gap].generation = 0;
    for (unsigned int j = (gap + 1) & (kSlots - 1); Used(j); j = (j + 1) & (kSlots - 1)) {
      unsigned int home = Home(_slots[j].key);
      // The entry may move into the gap unless its home lies after the gap
      // (cyclically) and not after j.
      bool stays = gap <= j ? (gap < home && home <= j) : (gap < home || home <= j);
      if (stays) continue;
      _slots[gap] = _slots[j];
      _slots[j].generation = 0;
      gap = j;
    }
    return true;
  }
  void ClearIndex() {
    if (++_generation == 0) {
      std::memset(_slots, 0, sizeof _slots);
      _generation = 1;
    }
  }

  unsigned int _generation = 1;
  Slot _slots[kSlots] = {};
};

}  // namespace

cFD_SET::~cFD_SET() = default;

cFD_SET* cFD_SET::Create(cKV_Error* err) {
  cFD_SET* set = host::New<cFD_SETimpl>();
  if (set == nullptr)
    KV_REPORT(err, 7, kUnit, "Failed to allocate memory. Requested size:%d", static_cast<int>(sizeof(cFD_SETimpl)));
  return set;
}

void cFD_SET::Delete(cFD_SET*& set) {
  delete set;
  set = nullptr;
}

int osSoctSelect(cKV_Error* err, unsigned int, cFD_SET* readSet, cFD_SET* writeSet, cFD_SET* exceptSet,
                 unsigned int timeoutMs) {
  cFD_SETimpl* sets[3] = {};
  cFD_SET* given[3] = {readSet, writeSet, exceptSet};
  bool ready[3][kSetCapacity];
  host::SockWaitList lists[3] = {};
  int failure = 0;
  for (int k = 0; k < 3; ++k) {
    lists[k].ready = ready[k];
    if (given[k] == nullptr) continue;
    sets[k] = dynamic_cast<cFD_SETimpl*>(given[k]);
    if (sets[k] == nullptr) {
      failure = host::SockErrorNumber(SockError::kInvalid);
      continue;
    }
    lists[k].sockets = sets[k]->_sockets;
    lists[k].count = sets[k]->_count;
  }
  if (failure == 0 && host::SockWait(lists, timeoutMs == 0xFFFFFFFFu ? -1 : static_cast<long long>(timeoutMs)) < 0)
    failure = host::SockLastError();
  if (failure != 0) {
    KV_REPORT(err, 6, kUnit, "Socket select failed. WSAGetLastError()=%d", failure);
    return -1;
  }
  // Each set keeps only its ready members, in order.
  int count = 0;
  for (int k = 0; k < 3; ++k)
    if (sets[k] != nullptr) count += static_cast<int>(sets[k]->Narrow([&](unsigned int i) { return ready[k][i]; }));
  return count;
}

// --- Host names, addresses and multicast -------------------------------------

cKV_String osGetHostName() {
  char name[256];
  if (!host::HostName(name, 255)) return cKV_String("localhost");
  name[255] = '\0';
  return cKV_String(name);
}

namespace {

// The answer's IPv4 addresses in a new array, or null when memory runs out.
unsigned int* CopyAddresses(host::ResolveAnswer const& answer, unsigned int& count) {
  unsigned int total = 0;
  while (answer.addresses[total] != nullptr) ++total;
  unsigned int* array = NewAddresses(total);
  if (array == nullptr) return nullptr;
  for (unsigned int i = 0; i < total; ++i) {
    std::memcpy(&array[i], answer.addresses[i], 4);
    ++count;
  }
  return array;
}

}  // namespace

unsigned int* osGetHostAddr(unsigned int& count) {
  cKV_String name = osGetHostName();
  count = 0;
  host::ResolveAnswer answer;
  int error = 0;
  if (host::ResolveName(name, answer, error)) {
    unsigned int* array = nullptr;
    if (answer.family == 4 && answer.length == 4) array = CopyAddresses(answer, count);
    host::ReleaseAnswer(answer);
    if (array != nullptr && count > 0) return array;
    ::operator delete(array);
    count = 0;
  }
  unsigned int* loopback = NewAddresses(1);
  if (loopback == nullptr) return nullptr;
  unsigned char const bytes[4] = {127, 0, 0, 1};
  std::memcpy(loopback, bytes, 4);
  count = 1;
  return loopback;
}

unsigned int* osGetAddrByHostname(cKV_Error* err, char const* name, unsigned int& count) {
  count = 0;
  host::ResolveAnswer answer;
  int error = 0;
  bool found = name != nullptr && host::ResolveName(name, answer, error);
  if (name == nullptr) error = host::SockErrorNumber(SockError::kNameNotFound);
  if (found && (answer.family != 4 || answer.length != 4)) {
    host::ReleaseAnswer(answer);
    found = false;
    error = host::SockErrorNumber(SockError::kNameNoAddress);
  }
  if (!found) {
    KV_REPORT(err, 8, kUnit, "Failed to get address by host name [%s]. WSAGetLastError()=%d",
              name != nullptr ? name : "", error);
    return nullptr;
  }
  unsigned int* array = CopyAddresses(answer, count);
  host::ReleaseAnswer(answer);
  if (array == nullptr) count = 0;
  return array;
}

cKV_String osGetHostnameByIp(unsigned int address, bool& found) {
  found = false;
  host::ResolveAnswer answer;
  int error = 0;
  if (host::ResolveAddress(address, answer, error)) {
    cKV_String name(answer.name);
    host::ReleaseAnswer(answer);
    found = true;
    return name;
  }
  return osGetIpString(address);
}

cKV_String osGetIpString(unsigned int address) {
  unsigned char b[4];
  Bytes(address, b);
  cKV_String text;
  text.Format("%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  return text;
}

unsigned int IsIp4Address(char const* text, unsigned int length, unsigned int* consumed) {
  if (text == nullptr) return 0;
  unsigned int len = length != 0 ? length : static_cast<unsigned int>(std::strlen(text));
  if (len == 0) return 0;
  unsigned char parts[4] = {};
  unsigned int pos = 0, numbers = 0;
  bool accepted = true;
  for (;;) {
    char c = text[pos];
    if (c < '0' || c > '9') {
      accepted = false;
      break;
    }
    unsigned int value = static_cast<unsigned int>(c - '0');
    ++pos;
    while (pos < len && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + static_cast<unsigned int>(text[pos] - '0');
      if (value > 255) break;
      ++pos;
    }
    if (value > 255) {
      accepted = false;
      break;
    }
    parts[numbers++] = static_cast<unsigned char>(value);
    if (pos == len) break;
    if (text[pos] != '.') {
      accepted = false;
      break;
    }
    ++pos;
    if (pos == len || numbers == 4) break;
  }
  if (consumed != nullptr) *consumed = pos;
  if (!accepted || (pos == len && numbers < 4)) return 0;
  unsigned int address;
  std::memcpy(&address, parts, 4);
  return address;
}

bool osSoctMulticastCreate(cKV_Error* err, unsigned int& s, tKV_InetAddress const& group) {
  s = host::SockCreate(false);
  if (s == 0) {
    int e = host::SockLastError();
    return KV_REPORT(err, 6, kUnit, "Failed to create TCP socket. WSAGetLastError()=%d", e);
  }
  if (host::SockBind(s, host::SockAddr4{0, group.port}) != 0) {
    int e = host::SockLastError();
    KV_REPORT(err, 6, kUnit, "Failed to bind socket to port %d. WSAGetLastError()=%d", group.port, e);
    osSoctClose(nullptr, s);
    return false;
  }
  if (host::SockMembership(s, true, group.address) != 0) {
    int e = host::SockLastError();
    KV_REPORT(err, 6, kUnit, "Failed to join multicast group. WSAGetLastError()=%d", e);
    osSoctClose(nullptr, s);
    return false;
  }
  return true;
}

bool osSoctMulticastClose(cKV_Error* err, unsigned int& s, tKV_InetAddress const& group) {
  if (s == 0) return true;
  if (host::SockMembership(s, false, group.address) == 0) return osSoctClose(err, s);
  int e = host::SockLastError();
  KV_REPORT(err, 6, kUnit, "Failed to drop multicast group. WSAGetLastError()=%d", e);
  osSoctClose(nullptr, s);
  return false;
}

}  // namespace Korvane
