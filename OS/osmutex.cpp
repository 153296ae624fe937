#include "OS/osmutex.h"

#include "OS/host/memory.h"
#include "OS/host/thread.h"
#include "OS/internal/events.h"
#include "OS/internal/rwmutex.h"
#include "OS/osevent.h"
#include "OS/host/sync.h"
#include "OS/internal/report.h"

namespace Korvane {

namespace {

void* NewLock(cKV_Error* err) {
  void* lock = host::Malloc(host::LockSize());
  if (lock == nullptr) {
    KV_REPORT(err, 7, ".\\osmutex", "Failed to allocate memory. Requested size:%d",
              static_cast<int>(host::LockSize()));
    return nullptr;
  }
  host::LockInit(lock);
  return lock;
}

void DeleteLock(void* lock) {
  host::LockDestroy(lock);
  host::Free(lock);
}

using internal::RwMutex;

// Bounds each wait of an acquire: a re-check, never a failure.
constexpr unsigned kRecheckMs = 10000;

}  // namespace

bool osCreateCriticalSection(cKV_Error* err, void*& cs) {
  cs = NewLock(err);
  return cs != nullptr;
}

void osDestroyCriticalSection(void*& cs) {
  if (cs == nullptr) return;
  DeleteLock(cs);
  cs = nullptr;
}

void osEnterCriticalSection(void*& cs) {
  if (cs != nullptr) host::LockEnter(cs);
}

void osLeaveCriticalSection(void*& cs) {
  if (cs != nullptr) host::LockLeave(cs);
}

bool osCreateMutex(cKV_Error* err, void*& mutex) {
  mutex = nullptr;
  auto* m = host::New<RwMutex>();
  if (m == nullptr) return false;
  m->state = 0;
  m->lock = NewLock(err);
  if (m->lock == nullptr) {
    delete m;
    return false;
  }
  m->writer = 0;
  m->waiting = 0;
  m->eventSet = false;
  if (!osCreateEvent(err, false, m->released)) {
    DeleteLock(m->lock);
    delete m;
    return false;
  }
  mutex = m;
  return true;
}

void osDestroyMutex(void*& mutex) {
  auto* m = static_cast<RwMutex*>(mutex);
  if (m == nullptr) return;
  DeleteLock(m->lock);
  osDestroyEvent(m->released);
  delete m;
  mutex = nullptr;
}

namespace {

// Both under the record's lock.
void LowerEvent(RwMutex* m) {
  if (!m->eventSet) return;
  osResetEvent(m->released);
  m->eventSet = false;
}

void RaiseEvent(RwMutex* m) {
  if (m->eventSet) return;
  osSetEvent(m->released);
  m->eventSet = true;
}

// One attempt under the lock; a thread that finds the mutex taken counts
// itself among the waiters before it leaves the lock, so that the release
// that frees the mutex knows to set the event. A waiter that comes back
// stops counting until it finds the mutex taken again.
template <typename Take>
void Acquire(RwMutex* m, Take take) {
  bool waited = false;
  for (;;) {
    host::LockEnter(m->lock);
    if (waited) --m->waiting;
    bool taken = take();
    if (!taken) ++m->waiting;
    // Those still waiting (or this thread) must sleep until the next release.
    if (m->waiting > 0) LowerEvent(m);
    host::LockLeave(m->lock);
    if (taken) return;
    waited = true;
    // Holds are short: a look before sleeping.
    if (!internal::SignalledSoon(m->released)) osWaitForEvents(1, &m->released, kRecheckMs);
  }
}

}  // namespace

void osAcquireMutexRead(void* mutex) {
  auto* m = static_cast<RwMutex*>(mutex);
  if (m == nullptr) return;
  Acquire(m, [m] {
    if (m->state >= 0)
      ++m->state;
    else if (m->writer == host::CurrentThreadId())
      --m->state;  // the writer's read is one more level of its write hold
    else
      return false;
    return true;
  });
}

void osAcquireMutexWrite(void* mutex) {
  auto* m = static_cast<RwMutex*>(mutex);
  if (m == nullptr) return;
  unsigned int self = host::CurrentThreadId();
  Acquire(m, [m, self] {
    if (m->state == 0) {
      m->state = -1;
      m->writer = self;
    } else if (m->state < 0 && m->writer == self) {
      --m->state;
    } else {
      return false;
    }
    return true;
  });
}

void osReleaseMutex(void* mutex) {
  auto* m = static_cast<RwMutex*>(mutex);
  if (m == nullptr) return;
  host::LockEnter(m->lock);
  if (m->state > 0)
    --m->state;
  else if (m->state < 0)
    ++m->state;
  // Every waiter wakes and competes again.
  if (m->state == 0 && m->waiting > 0) RaiseEvent(m);
  host::LockLeave(m->lock);
}

}  // namespace Korvane
