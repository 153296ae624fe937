// Host network interface listing.
#ifndef KV_OS_HOST_NET_H
#define KV_OS_HOST_NET_H

namespace Korvane::host {

// One interface as the host describes it.
struct NetInterface {
  int index;            // the host's interface index
  char name[32];        // the host's name ("eth0")
  char alias[256];      // the administrator's description, empty when none
  int hwType;           // the host's hardware type
  unsigned char hw[8];  // hardware address
  unsigned int hwLength;
  unsigned int ipv4;  // first IPv4 address in network order, 0 when none
  bool running;       // operationally up
};

// Hardware types that the library lists.
inline constexpr int kHwEthernet = 1;
inline constexpr int kHwPpp = 512;

// Lists the host's interfaces, in any order, into `out` (room for `cap`;
// `details` asks for the aliases too). Returns the number the host has,
// which may exceed `cap` (the rest is left out), or -1 on failure.
int ListNetInterfaces(NetInterface* out, int cap, bool details) noexcept;

// The nominal speed of the named interface in Mbit/s; false when the host
// does not know it (link down, virtual device, interface gone).
bool NetInterfaceSpeed(char const* name, unsigned int& mbps) noexcept;

// Tests replace the listing with recorded ones; null restores the host.
using NetInterfaceLister = int (*)(NetInterface* out, int cap, bool details);
void SetNetInterfaceLister(NetInterfaceLister lister) noexcept;
// The listing in force: the recorded one or the host's.
int ListNetInterfacesNow(NetInterface* out, int cap, bool details) noexcept;

}  // namespace Korvane::host

#endif
