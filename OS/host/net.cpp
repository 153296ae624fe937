#include "OS/host/net.h"

#include <atomic>

namespace Korvane::host {

namespace {
constinit std::atomic<NetInterfaceLister> g_lister{nullptr};
constinit std::atomic<NetSpeedReader> g_speed{nullptr};
}  // namespace

void SetNetInterfaceLister(NetInterfaceLister lister) noexcept { g_lister.store(lister, std::memory_order_release); }
void SetNetSpeedReader(NetSpeedReader reader) noexcept { g_speed.store(reader, std::memory_order_release); }

int ListNetInterfacesNow(NetInterface* out, int cap, bool details) noexcept {
  NetInterfaceLister lister = g_lister.load(std::memory_order_acquire);
  return lister != nullptr ? lister(out, cap, details) : ListNetInterfaces(out, cap, details);
}

bool NetInterfaceSpeedNow(NetInterface const& adapter, unsigned long long& bitsPerSecond) noexcept {
  NetSpeedReader reader = g_speed.load(std::memory_order_acquire);
  return reader != nullptr ? reader(adapter, bitsPerSecond) : NetInterfaceSpeed(adapter, bitsPerSecond);
}

}  // namespace Korvane::host
