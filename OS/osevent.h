/// \file
/// Events: manual-reset events behind opaque handles, a wait for any of
/// several, and the process-wide pair of ready-made conditions.
#ifndef KV_OS_OSEVENT_H
#define KV_OS_OSEVENT_H

#include "OS/osbase.h"
#include "OS/oserror.h"

namespace Korvane {

/// Creates an unnamed manual-reset event: once set it stays signalled, and
/// waiting does not reset it.
/// \param err gets code 1, ".\osevent", "Failed to create event.
///   WSAGetLastError()=%d" on failure; may be null.
/// \param signalled whether the event starts signalled.
/// \param event gets the handle, null on failure.
/// \return whether the event was made.
KV_OS_API bool osCreateEvent(cKV_Error* err, bool signalled, void*& event);
/// Closes an event. A wait that is in progress on the event when it is
/// closed still ends normally: it reads the handles once, when it starts,
/// so the variable it was given may be the one that is set to null.
/// \param event the handle; null is ignored, otherwise it is set to null.
KV_OS_API void osDestroyEvent(void*& event);
/// Signals an event. Setting releases every wait in progress on the event
/// at once, even when the event is reset right after it (a pulse).
/// \param event the handle; null is ignored.
KV_OS_API void osSetEvent(void*& event);
/// Makes an event non-signalled.
/// \param event the handle; null is ignored.
KV_OS_API void osResetEvent(void*& event);

/// Waits until one of several events is signalled. The time-out runs on the
/// monotonic clock: changing the wall clock neither stretches nor cuts it.
/// There is no limit on `count` (the same event may appear more than once);
/// a wait over more than a few events needs a small allocation.
/// \param count the number of events, at least 1.
/// \param events the handles, none null.
/// \param timeoutMs the most milliseconds to wait; 0 only tests,
///   0xFFFFFFFF waits without limit.
/// \return the index of the signalled event (the lowest when several are);
///   -1 on time-out, for a count below 1, a null array or a null event in
///   it, and when the allocation cannot be made.
KV_OS_API int osWaitForEvents(int count, void** events, unsigned int timeoutMs);

/// The process-wide event that is always signalled, made when the library
/// is loaded and closed when it is unloaded. Callers must not set, reset or
/// destroy it.
/// \return the handle variable.
KV_OS_API void*& osGetSignalledEvent();
/// The process-wide event that is never signalled, made when the library is
/// loaded and closed when it is unloaded. Callers must not set, reset or
/// destroy it.
/// \return the handle variable.
KV_OS_API void*& osGetNonSignalledEvent();

}  // namespace Korvane

#endif
