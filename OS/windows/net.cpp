// Network adapters from the IP helper: GetAdaptersAddresses for the list,
// GetIfEntry2 for an interface's speed.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstring>

#include "OS/host/fault.h"
#include "OS/host/memory.h"
#include "OS/host/net.h"
#include "OS/windows/wide.h"

namespace Korvane::host {

namespace {

NetKind KindOf(IFTYPE type) {
  return type == IF_TYPE_ETHERNET_CSMACD ? NetKind::kEthernet : type == IF_TYPE_PPP ? NetKind::kPpp : NetKind::kOther;
}

unsigned int FirstIpv4(IP_ADAPTER_UNICAST_ADDRESS const* a) {
  for (; a != nullptr; a = a->Next) {
    sockaddr const* sa = a->Address.lpSockaddr;
    if (sa != nullptr && sa->sa_family == AF_INET && a->Address.iSockaddrLength >= static_cast<INT>(sizeof(sockaddr_in)))
      return reinterpret_cast<sockaddr_in const*>(sa)->sin_addr.s_addr;
  }
  return 0;
}

}  // namespace

int ListNetInterfaces(NetInterface* out, int cap, bool details) noexcept {
  if (int e = Fault("net.list")) {
    ::SetLastError(static_cast<DWORD>(e));
    return -1;
  }
  // The description comes with every listing; `details` costs nothing more.
  ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
  // The list may grow between asking its size and reading it: a few rounds
  // catch up.
  ULONG size = 16 * 1024;
  IP_ADAPTER_ADDRESSES* list = nullptr;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int round = 0; round < 4 && rc == ERROR_BUFFER_OVERFLOW; ++round) {
    Free(list);
    list = static_cast<IP_ADAPTER_ADDRESSES*>(Malloc(size));
    if (list == nullptr) {
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return -1;
    }
    rc = ::GetAdaptersAddresses(AF_UNSPEC, flags, nullptr, list, &size);
  }
  if (rc == ERROR_NO_DATA) {  // no adapter at all
    Free(list);
    return 0;
  }
  if (rc != ERROR_SUCCESS) {
    Free(list);
    ::SetLastError(rc);
    return -1;
  }
  int total = 0;
  for (IP_ADAPTER_ADDRESSES const* a = list; a != nullptr; a = a->Next, ++total) {
    if (total >= cap) continue;
    NetInterface& r = out[total];
    std::memset(&r, 0, sizeof r);
    r.index = static_cast<int>(a->IfIndex);
    r.order = total;
    if (a->AdapterName != nullptr) {
      std::size_t n = std::strlen(a->AdapterName);
      if (n >= sizeof r.name) n = sizeof r.name - 1;
      std::memcpy(r.name, a->AdapterName, n);
    }
    if (details && a->Description != nullptr) {
      int n = win::FitUtf8(a->Description, static_cast<int>(std::wcslen(a->Description)), r.alias,
                           static_cast<int>(sizeof r.alias - 1));
      r.alias[n] = '\0';
    }
    r.kind = KindOf(a->IfType);
    r.hwLength = a->PhysicalAddressLength < sizeof r.hw ? a->PhysicalAddressLength : sizeof r.hw;
    std::memcpy(r.hw, a->PhysicalAddress, r.hwLength);
    r.ipv4 = FirstIpv4(a->FirstUnicastAddress);
    r.running = a->OperStatus == IfOperStatusUp;
  }
  Free(list);
  return total;
}

bool NetInterfaceSpeed(NetInterface const& adapter, unsigned long long& bitsPerSecond) noexcept {
  if (int e = Fault("net.speed")) {
    ::SetLastError(static_cast<DWORD>(e));
    return false;
  }
  MIB_IF_ROW2 row;
  std::memset(&row, 0, sizeof row);
  row.InterfaceIndex = static_cast<NET_IFINDEX>(adapter.index);
  if (::GetIfEntry2(&row) != NO_ERROR) return false;
  // All bits set: the host does not know.
  if (row.TransmitLinkSpeed == 0 || row.TransmitLinkSpeed == ~0ULL) return false;
  bitsPerSecond = row.TransmitLinkSpeed;
  return true;
}

}  // namespace Korvane::host
