// Critical sections and the reader/writer mutex, behind opaque handles.
#ifndef KV_OS_OSMUTEX_H
#define KV_OS_OSMUTEX_H

#include "OS/osbase.h"
#include "OS/oserror.h"

namespace Korvane {

// A recursive lock: the thread that holds it may enter again and leaves it
// as often as it entered. The handle points at the host's lock object
// (a pthread mutex); when it cannot be allocated the call reports code 7,
// ".\osmutex", "Failed to allocate memory. Requested size:%d" with the size
// of that object.
KV_OS_API bool osCreateCriticalSection(cKV_Error* err, void*& cs);
// Null handles are ignored; otherwise the handle is set to null.
KV_OS_API void osDestroyCriticalSection(void*& cs);
// A null handle makes both do nothing.
KV_OS_API void osEnterCriticalSection(void*& cs);
KV_OS_API void osLeaveCriticalSection(void*& cs);

// The reader/writer mutex. Policy:
// - readers are admitted whenever no other thread writes, even while writers
//   wait (a steady stream of readers can keep a writer waiting);
// - the writer may take it again for writing or reading without blocking;
//   every acquire, read or write, needs one osReleaseMutex;
// - a write is granted only when no reader holds it. A thread that asks to
//   write while it holds it for reading waits until every read hold is
//   released, its own included; only a release made by another thread can
//   end that wait, so normally it waits forever (as with pthread_rwlock_t).
//   Release your read hold before asking to write;
// - the acquire calls never give up and never report; a waiting thread
//   sleeps until the mutex becomes free and checks again at least every
//   10 seconds.
// osReleaseMutex does not check which thread calls it; releasing a free
// mutex leaves it free. Null handles are ignored by every call.
//
// osCreateMutex: code 7 ".\osmutex" when its lock cannot be allocated,
// code 1 ".\osevent" when its event cannot be made, false without a report
// when the record itself cannot be allocated. The handle is null on failure.
KV_OS_API bool osCreateMutex(cKV_Error* err, void*& mutex);
KV_OS_API void osDestroyMutex(void*& mutex);
KV_OS_API void osAcquireMutexRead(void* mutex);
KV_OS_API void osAcquireMutexWrite(void* mutex);
KV_OS_API void osReleaseMutex(void* mutex);

}  // namespace Korvane

#endif
