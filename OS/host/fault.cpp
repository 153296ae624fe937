#include "OS/host/fault.h"

#include <cstring>
#include <thread>

namespace Korvane::host {

std::atomic<int> g_faultsArmed{0};

namespace {

struct FaultEntry {
  char point[48];
  int error;
  unsigned skip;
  unsigned count;
  unsigned failures;
  void const* thread;  // null: any thread
};

constexpr int kMaxFaults = 32;
// A spin lock, not std::mutex: it must be constant-initialised on every host
// (the Windows threads library makes its mutex at run time), and arming is
// rare and short.
constinit std::atomic<bool> g_lock{false};

struct Guard {
  Guard() {
    while (g_lock.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
  }
  ~Guard() { g_lock.store(false, std::memory_order_release); }
  Guard(Guard const&) = delete;
  Guard& operator=(Guard const&) = delete;
};
constinit FaultEntry g_faults[kMaxFaults] = {};
constinit char g_root[1024] = {};
constinit std::atomic<bool> g_rootSet{false};

thread_local char t_threadMarker;

FaultEntry* Find(char const* point) {
  for (auto& f : g_faults)
    if (f.point[0] != '\0' && std::strcmp(f.point, point) == 0) return &f;
  return nullptr;
}

}  // namespace

int FaultHit(char const* point) noexcept {
  Guard guard;
  FaultEntry* f = Find(point);
  if (f == nullptr || f->count == 0) return 0;
  if (f->thread != nullptr && f->thread != &t_threadMarker) return 0;
  if (f->skip > 0) {
    --f->skip;
    return 0;
  }
  --f->count;
  ++f->failures;
  return f->error;
}

void FaultArm(char const* point, int error, unsigned skip, unsigned count, bool anyThread) noexcept {
  Guard guard;
  FaultEntry* f = Find(point);
  if (f == nullptr) {
    for (auto& e : g_faults)
      if (e.point[0] == '\0') {
        f = &e;
        break;
      }
    if (f == nullptr) return;
    g_faultsArmed.fetch_add(1, std::memory_order_relaxed);
  }
  std::strncpy(f->point, point, sizeof f->point - 1);
  f->point[sizeof f->point - 1] = '\0';
  f->error = error;
  f->skip = skip;
  f->count = count;
  f->failures = 0;
  f->thread = anyThread ? nullptr : &t_threadMarker;
}

void FaultDisarm(char const* point) noexcept {
  Guard guard;
  if (FaultEntry* f = Find(point)) {
    *f = FaultEntry{};
    g_faultsArmed.fetch_sub(1, std::memory_order_relaxed);
  }
}

void FaultClear() noexcept {
  Guard guard;
  for (auto& f : g_faults) f = FaultEntry{};
  g_faultsArmed.store(0, std::memory_order_relaxed);
}

unsigned FaultFailures(char const* point) noexcept {
  Guard guard;
  FaultEntry* f = Find(point);
  return f != nullptr ? f->failures : 0;
}

void SetRecordedRoot(char const* dir) noexcept {
  Guard guard;
  if (dir == nullptr || std::strlen(dir) >= sizeof g_root) {
    g_root[0] = '\0';
    g_rootSet.store(false, std::memory_order_release);
    return;
  }
  std::strcpy(g_root, dir);
  g_rootSet.store(true, std::memory_order_release);
}

char const* MapHostPath(char const* path, char* buf, std::size_t cap) noexcept {
  if (!g_rootSet.load(std::memory_order_acquire)) return path;
  Guard guard;
  std::size_t rootLen = std::strlen(g_root);
  std::size_t pathLen = std::strlen(path);
  if (rootLen + pathLen + 1 > cap) return nullptr;
  std::memcpy(buf, g_root, rootLen);
  std::memcpy(buf + rootLen, path, pathLen + 1);
  return buf;
}

}  // namespace Korvane::host
