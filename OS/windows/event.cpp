// Events on Windows: the host's own manual-reset events.
//
// The host waits for at most 64 objects at once and then names the lowest
// signalled one. Past 64 the first 63 events are waited for directly and
// the others through the host's thread pool, whose waits only wake this
// one; a wake-up from the pool is answered by a look at every event in
// index order, so the lowest signalled index wins for any number of events.
#include <windows.h>

#include <atomic>
#include <new>

#include "OS/host/fault.h"
#include "OS/host/memory.h"
#include "OS/internal/events.h"
#include "OS/internal/report.h"
#include "OS/osevent.h"

namespace Korvane {

namespace {

constexpr unsigned kInfinite = 0xFFFFFFFFu;
constexpr int kHostLimit = MAXIMUM_WAIT_OBJECTS;
constexpr int kDirect = kHostLimit - 1;  // and one slot for the pool's wake-up
constexpr int kScanAttempts = 64;
constexpr int kFailed = -2;

constinit void* g_signalled = nullptr;
constinit void* g_nonSignalled = nullptr;

HANDLE const* Handles(void** events) { return reinterpret_cast<HANDLE const*>(events); }

// The lowest signalled index, -1 for none, kFailed when the host refuses a
// handle. A hit beyond the first block is confirmed by looking again at the
// blocks before it: a lower event set meanwhile wins.
int Lowest(int count, HANDLE const* events) {
  for (int attempt = 1;; ++attempt) {
    int hit = -1;
    for (int start = 0; start < count && hit < 0; start += kHostLimit) {
      DWORD n = static_cast<DWORD>(count - start < kHostLimit ? count - start : kHostLimit);
      DWORD r = ::WaitForMultipleObjects(n, events + start, FALSE, 0);
      if (r < WAIT_OBJECT_0 + n) hit = start + static_cast<int>(r - WAIT_OBJECT_0);
      else if (r != WAIT_TIMEOUT) return kFailed;
    }
    if (hit < kHostLimit || attempt == kScanAttempts) return hit;
    bool lower = false;
    for (int start = 0; start + kHostLimit <= hit - hit % kHostLimit && !lower; start += kHostLimit)
      lower = ::WaitForMultipleObjects(kHostLimit, events + start, FALSE, 0) < WAIT_OBJECT_0 + kHostLimit;
    if (!lower) return hit;
  }
}

// One pool wait on an event beyond the first 63.
struct PoolWait {
  HANDLE wait;
  HANDLE wake;
  std::atomic<bool> fired;
};

void CALLBACK Fired(void* context, BOOLEAN) {
  auto* w = static_cast<PoolWait*>(context);
  w->fired.store(true, std::memory_order_release);
  ::SetEvent(w->wake);
}

bool Arm(PoolWait& w, HANDLE event) {
  w.fired.store(false, std::memory_order_relaxed);
  return ::RegisterWaitForSingleObject(&w.wait, event, Fired, &w, INFINITE,
                                       WT_EXECUTEONLYONCE | WT_EXECUTEINWAITTHREAD) != 0;
}

// Returns once the callback can no longer run.
void Disarm(PoolWait& w) {
  if (w.wait != nullptr) ::UnregisterWaitEx(w.wait, INVALID_HANDLE_VALUE);
  w.wait = nullptr;
}

int WaitMany(int count, HANDLE const* events, unsigned timeoutMs) {
  int pooled = count - kDirect;
  auto* waits = static_cast<PoolWait*>(host::Malloc(sizeof(PoolWait) * static_cast<std::size_t>(pooled)));
  HANDLE wake = waits != nullptr ? ::CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr;
  int hit = -1;
  int armed = 0;
  if (wake != nullptr) {
    for (; armed < pooled; ++armed) {
      new (&waits[armed]) PoolWait{nullptr, wake, {false}};
      if (!Arm(waits[armed], events[kDirect + armed])) break;
    }
  }
  if (wake != nullptr && armed == pooled) {
    HANDLE direct[kHostLimit];
    for (int i = 0; i < kDirect; ++i) direct[i] = events[i];
    direct[kDirect] = wake;
    // A set wakes the wait even when the event is reset before the wait
    // looks: the host's waits release on a set, and so does a pool wait.
    hit = Lowest(count, events);
    if (hit == -1) {
      DWORD r = ::WaitForMultipleObjects(kHostLimit, direct, FALSE, timeoutMs);
      if (r < WAIT_OBJECT_0 + kDirect) {
        hit = static_cast<int>(r - WAIT_OBJECT_0);  // below every pooled index
      } else if (r == WAIT_OBJECT_0 + kDirect || r == WAIT_TIMEOUT) {
        hit = Lowest(count, events);
        for (int i = 0; i < pooled && hit != kFailed; ++i) {
          if (hit >= 0 && hit <= kDirect + i) break;
          if (waits[i].fired.load(std::memory_order_acquire)) hit = kDirect + i;
        }
      } else {
        hit = kFailed;
      }
    }
  } else {
    hit = kFailed;
  }
  for (int i = 0; i < armed; ++i) Disarm(waits[i]);
  if (wake != nullptr) ::CloseHandle(wake);
  host::Free(waits);
  return hit;
}

}  // namespace

bool osCreateEvent(cKV_Error* err, bool signalled, void*& event) {
  event = nullptr;
  // An event is memory that the host allocates.
  int e = host::Fault("alloc");
  if (e == 0) e = host::Fault("event.create");
  if (e != 0) {
    ::SetLastError(static_cast<DWORD>(e));
  } else {
    event = ::CreateEventW(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr);
  }
  if (event == nullptr)
    return KV_REPORT(err, 1, ".\\osevent", "Failed to create event. WSAGetLastError()=%d",
                     static_cast<int>(::GetLastError()));
  return true;
}

void osDestroyEvent(void*& event) {
  if (event == nullptr) return;
  ::CloseHandle(static_cast<HANDLE>(event));
  event = nullptr;
}

void osSetEvent(void*& event) {
  if (event != nullptr) ::SetEvent(static_cast<HANDLE>(event));
}

void osResetEvent(void*& event) {
  if (event != nullptr) ::ResetEvent(static_cast<HANDLE>(event));
}

int osWaitForEvents(int count, void** events, unsigned int timeoutMs) {
  if (count < 1 || events == nullptr) return -1;
  for (int i = 0; i < count; ++i)
    if (events[i] == nullptr) return -1;
  int hit;
  if (count <= kHostLimit) {
    DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(count), Handles(events), FALSE, timeoutMs);
    hit = r - WAIT_OBJECT_0 < static_cast<DWORD>(count) ? static_cast<int>(r - WAIT_OBJECT_0) : -1;
  } else if (timeoutMs == 0) {
    hit = Lowest(count, Handles(events));
  } else {
    hit = WaitMany(count, Handles(events), timeoutMs);
  }
  return hit >= 0 ? hit : -1;
}

void*& osGetSignalledEvent() { return g_signalled; }

void*& osGetNonSignalledEvent() { return g_nonSignalled; }

namespace internal {

void CreateEventPair() noexcept {
  osCreateEvent(nullptr, true, g_signalled);
  osCreateEvent(nullptr, false, g_nonSignalled);
}

void CloseEventPair() noexcept {
  osDestroyEvent(g_nonSignalled);
  osDestroyEvent(g_signalled);
}

// The host does not tell who waits for its events.
int EventWaiters(void*) noexcept { return -1; }

// A look costs a call into the host: one look, no spinning.
bool SignalledSoon(void* event) noexcept { return ::WaitForSingleObject(static_cast<HANDLE>(event), 0) == WAIT_OBJECT_0; }

}  // namespace internal

}  // namespace Korvane
