#include "OS/osnet.h"

#include <cstring>
#include <new>

#include "OS/host/fault.h"
#include "OS/host/memory.h"
#include "OS/host/net.h"

namespace Korvane {

namespace {

// The host's listing, in the host's adapter order, in a block that the
// caller frees. The listing may grow between two calls; a few rounds catch
// up with it. -1 when the host refuses or keeps changing, -2 when memory
// runs out before the host was asked.
int List(host::NetInterface*& records, bool details) {
  int cap = 1;
  records = static_cast<host::NetInterface*>(host::Malloc(sizeof(host::NetInterface)));
  if (records == nullptr) return -2;
  for (int round = 0; round < 8; ++round) {
    int n = host::ListNetInterfacesNow(records, cap, details);
    if (n < 0) break;
    if (n <= cap) {
      for (int i = 1; i < n; ++i)
        for (int j = i; j > 0 && records[j - 1].order > records[j].order; --j) {
          host::NetInterface t = records[j];
          records[j] = records[j - 1];
          records[j - 1] = t;
        }
      return n;
    }
    cap = n + 4;
    void* bigger = host::Realloc(records, static_cast<std::size_t>(cap) * sizeof(host::NetInterface));
    if (bigger == nullptr) break;
    records = static_cast<host::NetInterface*>(bigger);
  }
  host::Free(records);
  records = nullptr;
  return -1;
}

bool Listed(host::NetInterface const& r) { return r.kind == host::NetKind::kEthernet || r.kind == host::NetKind::kPpp; }

}  // namespace

bool osNetGetEtherMAC(unsigned char* mac) {
  if (mac == nullptr) return false;
  host::NetInterface* records = nullptr;
  int n = List(records, false);
  if (n < 0) return false;
  bool found = false;
  for (int i = 0; i < n && !found; ++i)
    if (records[i].kind == host::NetKind::kEthernet) {
      std::memcpy(mac, records[i].hw, records[i].hwLength < 6 ? records[i].hwLength : 6);
      found = true;
    }
  host::Free(records);
  return found;
}

int osNetGetInterfaces(tNetInterfaceInfo*& list) {
  host::NetInterface* records = nullptr;
  int n = List(records, true);
  if (n == -2) return 0;
  if (n < 0) {
    list = nullptr;
    return 0;
  }
  int wanted = 0;
  for (int i = 0; i < n; ++i)
    if (Listed(records[i])) ++wanted;
  tNetInterfaceInfo* array = nullptr;
  if (wanted > 0 && host::Fault("alloc") == 0) array = new (std::nothrow) tNetInterfaceInfo[wanted];
  list = array;
  if (array == nullptr) {
    host::Free(records);
    return 0;
  }
  int count = 0;
  for (int i = 0; i < n; ++i) {
    host::NetInterface const& r = records[i];
    if (!Listed(r)) continue;
    tNetInterfaceInfo& entry = array[count];
    entry.flags = r.kind == host::NetKind::kPpp ? 1u : 0u;
    entry.name = r.alias[0] != '\0' ? r.alias : r.name;
    entry.address = r.ipv4;
    entry.speed = 0;
    // No address: the entry is reused for the next interface.
    if (entry.address == 0) continue;
    unsigned long long bits = 0;
    if (r.running && host::NetInterfaceSpeedNow(r, bits))
      entry.speed = bits > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<unsigned int>(bits);
    ++count;
  }
  host::Free(records);
  if (count == 0) {
    delete[] array;
    list = nullptr;
  }
  return count;
}

}  // namespace Korvane
