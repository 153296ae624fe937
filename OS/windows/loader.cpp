#include "OS/windows/loader.h"

#include <atomic>

namespace Korvane::win {

namespace {
constinit std::atomic<bool> g_inLoaderLock{false};
}

bool InLoaderLock() noexcept { return g_inLoaderLock.load(std::memory_order_relaxed); }

void SetInLoaderLock(bool held) noexcept { g_inLoaderLock.store(held, std::memory_order_relaxed); }

}  // namespace Korvane::win
