// Host network interface listing.
#ifndef KV_OS_HOST_NET_H
#define KV_OS_HOST_NET_H

namespace Korvane::host {

// The kinds of interface that the library tells apart.
enum class NetKind { kOther, kEthernet, kPpp };

// One interface as the host describes it.
struct NetInterface {
  int index;            // the host's interface index
  int order;            // its place in the host's adapter order
  char name[64];        // the host's name ("eth0", an adapter's GUID)
  char alias[256];      // its description for people, empty when none
  NetKind kind;
  unsigned char hw[8];  // hardware address
  unsigned int hwLength;
  unsigned int ipv4;  // first IPv4 address in network order, 0 when none
  bool running;       // operationally up
};

// Lists the host's interfaces, in any order, into `out` (room for `cap`;
// `details` asks for the descriptions too). Returns the number the host
// has, which may exceed `cap` (the rest is left out), or -1 on failure.
int ListNetInterfaces(NetInterface* out, int cap, bool details) noexcept;

// The nominal speed of a listed interface in bits per second; false when
// the host does not know it (link down, virtual device, interface gone).
bool NetInterfaceSpeed(NetInterface const& adapter, unsigned long long& bitsPerSecond) noexcept;

// Tests replace the host's answers with recorded ones; null restores the
// host's.
using NetInterfaceLister = int (*)(NetInterface* out, int cap, bool details);
using NetSpeedReader = bool (*)(NetInterface const& adapter, unsigned long long& bitsPerSecond);
void SetNetInterfaceLister(NetInterfaceLister lister) noexcept;
void SetNetSpeedReader(NetSpeedReader reader) noexcept;
// The answers in force: the recorded ones or the host's.
int ListNetInterfacesNow(NetInterface* out, int cap, bool details) noexcept;
bool NetInterfaceSpeedNow(NetInterface const& adapter, unsigned long long& bitsPerSecond) noexcept;

}  // namespace Korvane::host

#endif
