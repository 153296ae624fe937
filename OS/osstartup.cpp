// The one place where the library's state is made at load and released at
// unload. Each unit with process-wide state adds its step here, in the
// documented order; unload undoes the steps in reverse.
#include <atomic>
#include <cstdlib>

#include "OS/host/socket.h"
#include "OS/host/startup.h"
#include "OS/internal/events.h"
#include "OS/internal/sysinfo.h"
#include "OS/internal/uid.h"

namespace Korvane::host {

namespace {
constinit std::atomic<bool> g_ready{false};
}

void LibraryLoad() noexcept {
  // 1. The process-wide signalled and non-signalled events.
  internal::CreateEventPair();
  // 2. The identifier generator: node, critical section, last time stamp.
  StartUidGenerator();
  // 3. The empty identifier.
  MakeEmptyUid();
  // 4. The socket layer; without it the process cannot go on.
  if (!SockLayerStart()) std::_Exit(-1);
  // 5. The system description.
  sysinfo::LoadDescription();
  g_ready.store(true, std::memory_order_release);
}

void LibraryUnload() noexcept {
  g_ready.store(false, std::memory_order_release);
  // 5 .. 1 in reverse.
  sysinfo::UnloadDescription();  // 5
  SockLayerStop();               // 4
  StopUidGenerator();            // 2
  internal::CloseEventPair();  // 1, last
}

bool LibraryReady() noexcept { return g_ready.load(std::memory_order_acquire); }

}  // namespace Korvane::host
