#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <net/if_arp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "OS/host/fault.h"
#include "OS/host/net.h"

namespace Korvane::host {

namespace {

NetKind KindOf(unsigned short hardwareType) {
  return hardwareType == ARPHRD_ETHER ? NetKind::kEthernet : hardwareType == ARPHRD_PPP ? NetKind::kPpp : NetKind::kOther;
}

// Reads a small /sys attribute of the interface into `buf`, without the
// trailing line feed. False when it cannot be read.
bool ReadAttribute(char const* name, char const* attribute, char* buf, std::size_t cap) {
  char path[160], mapped[1200];
  if (std::snprintf(path, sizeof path, "/sys/class/net/%s/%s", name, attribute) >= static_cast<int>(sizeof path))
    return false;
  char const* at = MapHostPath(path, mapped, sizeof mapped);
  if (at == nullptr) return false;
  int fd = open(at, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t n;
  do {
    n = read(fd, buf, cap - 1);
  } while (n < 0 && errno == EINTR);
  int saved = errno;
  close(fd);
  errno = saved;
  if (n < 0) return false;
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\0')) --n;
  buf[n] = '\0';
  return true;
}

}  // namespace

int ListNetInterfaces(NetInterface* out, int cap, bool details) noexcept {
  if (int e = Fault("net.list")) {
    errno = e;
    return -1;
  }
  // getifaddrs asks the kernel for every link (with its hardware type and
  // address, whether or not it has an IP address) and every address.
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return -1;
  int total = 0;
  for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_PACKET) continue;
    if (total < cap) {
      auto const* link = reinterpret_cast<sockaddr_ll const*>(a->ifa_addr);
      NetInterface& r = out[total];
      std::memset(&r, 0, sizeof r);
      r.index = link->sll_ifindex;
      r.order = link->sll_ifindex;  // the kernel's order is that of the indexes
      std::snprintf(r.name, sizeof r.name, "%s", a->ifa_name);
      r.kind = KindOf(link->sll_hatype);
      r.hwLength = link->sll_halen < sizeof r.hw ? link->sll_halen : sizeof r.hw;
      std::memcpy(r.hw, link->sll_addr, r.hwLength);
      r.running = (a->ifa_flags & IFF_RUNNING) != 0;
      if (details && !ReadAttribute(r.name, "ifalias", r.alias, sizeof r.alias)) r.alias[0] = '\0';
    }
    ++total;
  }
  // The first IPv4 address of each link; secondary addresses carry the
  // link's name with a ":label" suffix.
  int listed = total < cap ? total : cap;
  for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
    if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
    for (int i = 0; i < listed; ++i) {
      std::size_t len = std::strlen(out[i].name);
      if (out[i].ipv4 == 0 && std::strncmp(a->ifa_name, out[i].name, len) == 0 &&
          (a->ifa_name[len] == '\0' || a->ifa_name[len] == ':')) {
        out[i].ipv4 = reinterpret_cast<sockaddr_in const*>(a->ifa_addr)->sin_addr.s_addr;
        break;
      }
    }
  }
  freeifaddrs(list);
  return total;
}

bool NetInterfaceSpeed(NetInterface const& adapter, unsigned long long& bitsPerSecond) noexcept {
  if (int e = Fault("net.speed")) {
    errno = e;
    return false;
  }
  char text[32];
  if (!ReadAttribute(adapter.name, "speed", text, sizeof text)) return false;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value <= 0) return false;
  // Mbit/s.
  bitsPerSecond = static_cast<unsigned long long>(value > 0x7FFFFFFFL ? 0x7FFFFFFFL : value) * 1000000ULL;
  return true;
}

}  // namespace Korvane::host
