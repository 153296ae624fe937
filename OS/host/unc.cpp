#include "OS/host/unc.h"

#include <atomic>

namespace Korvane::host {

namespace {
constinit std::atomic<UncProvider> g_provider{nullptr};
}

void SetUncProvider(UncProvider provider) noexcept { g_provider.store(provider, std::memory_order_release); }

UncAnswer UniversalNameNow(char const* path, char* full, std::size_t fullCap, char* universal,
                           std::size_t universalCap) noexcept {
  UncProvider provider = g_provider.load(std::memory_order_acquire);
  return provider != nullptr ? provider(path, full, fullCap, universal, universalCap)
                             : UniversalName(path, full, fullCap, universal, universalCap);
}

}  // namespace Korvane::host
