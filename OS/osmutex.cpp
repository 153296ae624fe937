#include "OS/osmutex.h"

#include "OS/host/memory.h"
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

}  // namespace Korvane
