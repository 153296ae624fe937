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

// A thread that finds the mutex taken announces its wait before it leaves
// the lock, so that the event is set and reset cheaply while nobody waits,
// and looks at the event for a moment before it sleeps: holds are short.
void osAcquireMutexRead(void* mutex) {
  auto* m = static_cast<RwMutex*>(mutex);
  if (m == nullptr) return;
  bool waited = false;
  for (;;) {
    bool taken = true;
    host::LockEnter(m->lock);
    if (waited) internal::WithdrawWait(m->released);
    if (m->state >= 0) {
      ++m->state;
      internal::ResetEventLocked(m->released);
    } else if (m->writer == host::CurrentThreadId()) {
      --m->state;  // the writer's read is one more level of its write hold
    } else {
      taken = false;
      internal::AnnounceWait(m->released);
    }
    host::LockLeave(m->lock);
    if (taken) return;
    waited = true;
    if (!internal::SignalledSoon(m->released)) osWaitForEvents(1, &m->released, kRecheckMs);
  }
}

void osAcquireMutexWrite(void* mutex) {
  auto* m = static_cast<RwMutex*>(mutex);
  if (m == nullptr) return;
  unsigned int self = host::CurrentThreadId();
  bool waited = false;
  for (;;) {
    bool taken = true;
    host::LockEnter(m->lock);
    if (waited) internal::WithdrawWait(m->released);
    if (m->state == 0) {
      m->state = -1;
      m->writer = self;
      internal::ResetEventLocked(m->released);
    } else if (m->state < 0 && m->writer == self) {
      --m->state;
    } else {
      taken = false;
      internal::AnnounceWait(m->released);
    }
    host::LockLeave(m->lock);
    if (taken) return;
    waited = true;
    if (!internal::SignalledSoon(m->released)) osWaitForEvents(1, &m->released, kRecheckMs);
  }
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
  if (m->state == 0) internal::SetEventLocked(m->released);
  host::LockLeave(m->lock);
}

}  // namespace Korvane
