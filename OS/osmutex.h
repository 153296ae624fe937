/// \file
/// Critical sections and the reader/writer mutex, behind opaque handles.
#ifndef KV_OS_OSMUTEX_H
#define KV_OS_OSMUTEX_H

#include "OS/osbase.h"
#include "OS/oserror.h"

namespace Korvane {

/// Creates a critical section: a recursive lock, which the thread that
/// holds it may enter again and leaves as often as it entered. The handle
/// points at the host's lock object (a pthread mutex).
/// \param err gets code 7, ".\osmutex", "Failed to allocate memory.
///   Requested size:%d" (the size of that object) when it cannot be
///   allocated; may be null.
/// \param cs gets the handle, null on failure.
/// \return whether the lock was made.
KV_OS_API bool osCreateCriticalSection(cKV_Error* err, void*& cs);
/// Destroys a critical section that no thread holds.
/// \param cs the handle; null is ignored, otherwise it is set to null.
KV_OS_API void osDestroyCriticalSection(void*& cs);
/// Enters a critical section, waiting while another thread holds it.
/// \param cs the handle; null does nothing.
KV_OS_API void osEnterCriticalSection(void*& cs);
/// Leaves a critical section once.
/// \param cs the handle; null does nothing.
KV_OS_API void osLeaveCriticalSection(void*& cs);

/// Creates a reader/writer mutex. Policy:
/// - readers are admitted whenever no other thread writes, even while
///   writers wait (a steady stream of readers can keep a writer waiting);
/// - the writer may take it again for writing or reading without blocking;
///   every acquire, read or write, needs one osReleaseMutex;
/// - a write is granted only when no reader holds it. A thread that asks to
///   write while it holds it for reading waits until every read hold is
///   released, its own included; only a release made by another thread can
///   end that wait, so normally it waits forever (as with
///   pthread_rwlock_t). Release your read hold before asking to write;
/// - the acquire calls never give up and never report; a waiting thread
///   sleeps until the mutex becomes free and checks again at least every
///   10 seconds.
///
/// osReleaseMutex does not check which thread calls it; releasing a free
/// mutex leaves it free. Null handles are ignored by every call.
/// \param err gets code 7 ".\osmutex" when its lock cannot be allocated,
///   code 1 ".\osevent" when its event cannot be made; nothing when the
///   record itself cannot be allocated. May be null.
/// \param mutex gets the handle, null on failure.
/// \return whether the mutex was made.
KV_OS_API bool osCreateMutex(cKV_Error* err, void*& mutex);
/// Destroys a reader/writer mutex that no thread holds.
/// \param mutex the handle; null is ignored, otherwise it is set to null.
KV_OS_API void osDestroyMutex(void*& mutex);
/// Takes the mutex for reading, waiting while another thread writes.
/// \param mutex the handle; null does nothing.
KV_OS_API void osAcquireMutexRead(void* mutex);
/// Takes the mutex for writing, waiting until no reader and no other
/// writer holds it.
/// \param mutex the handle; null does nothing.
KV_OS_API void osAcquireMutexWrite(void* mutex);
/// Gives back one read or write hold.
/// \param mutex the handle; null does nothing.
KV_OS_API void osReleaseMutex(void* mutex);

}  // namespace Korvane

#endif
