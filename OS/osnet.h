/// \file
/// Network interfaces and the Ethernet hardware address.
///
/// On Linux the adapters are the kernel's network interfaces in index
/// order: hardware type Ethernet is the Ethernet kind (wired, wireless,
/// bridges and virtual Ethernet alike), PPP the dial-up kind; every other
/// kind (loopback, tunnels without a hardware address, ...) is left out.
/// Neither function reports a reason for failing.
#ifndef KV_OS_OSNET_H
#define KV_OS_OSNET_H

#include "OS/osbase.h"
#include "OS/osstring.h"

namespace Korvane {

/// One network interface as osNetGetInterfaces lists it.
struct tNetInterfaceInfo {
  /// The interface's alias when the administrator set one, else its name.
  cKV_String name;
  /// First IPv4 address in network order; never 0 in a listed entry.
  unsigned int address = 0;
  /// Bit 0 (1): dial-up (PPP); clear for Ethernet.
  unsigned int flags = 0;
  /// Nominal speed in bits per second; 0 when the link is down or the host
  /// does not know it; 4294967295 for links of 4.3 Gbit/s and more.
  unsigned int speed = 0;
};

/// The hardware address of the first Ethernet-kind interface.
/// \param mac room for 6 bytes; at most 6 are written.
/// \return true when written; false, writing nothing, when there is no such
///   interface, the host cannot list its interfaces or `mac` is null.
KV_OS_API bool osNetGetEtherMAC(unsigned char* mac);

/// The Ethernet and dial-up interfaces that have an IPv4 address, in the
/// host's order.
/// \param list gets an array made with array new (release with delete[]);
///   it may hold more elements than the count returned. Null when there
///   are none or the host cannot list them; left as it was if memory runs
///   out before the host is asked.
/// \return the number of interfaces listed.
KV_OS_API int osNetGetInterfaces(tNetInterfaceInfo*& list);

}  // namespace Korvane

#endif
