#include "OS/host/net.h"

#include <atomic>

namespace Korvane::host {

namespace {
constinit std::atomic<NetInterfaceLister> g_lister{nullptr};
}

void SetNetInterfaceLister(NetInterfaceLister lister) noexcept { g_lister.store(lister, std::memory_order_release); }

int ListNetInterfacesNow(NetInterface* out, int cap, bool details) noexcept {
  NetInterfaceLister lister = g_lister.load(std::memory_order_acquire);
  return lister != nullptr ? lister(out, cap, details) : ListNetInterfaces(out, cap, details);
}

}  // namespace Korvane::host
