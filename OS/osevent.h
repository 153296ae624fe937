// Events: manual-reset events behind opaque handles, a wait for any of
// several, and the process-wide pair of ready-made conditions.
#ifndef KV_OS_OSEVENT_H
#define KV_OS_OSEVENT_H

#include "OS/osbase.h"
#include "OS/oserror.h"

namespace Korvane {

// Creates an unnamed manual-reset event: once set it stays signalled, and
// waiting does not reset it. Stores the handle, null on failure (code 1,
// ".\osevent", "Failed to create event. WSAGetLastError()=%d").
KV_OS_API bool osCreateEvent(cKV_Error* err, bool signalled, void*& event);
// Closes a non-null handle and sets it to null. A wait that is in progress
// on the event when it is closed still ends normally: it reads the handles
// once, when it starts, so the variable it was given may be the one that is
// set to null.
KV_OS_API void osDestroyEvent(void*& event);
// Null handles are ignored. Setting releases every wait in progress on the
// event at once, even when the event is reset right after it (a pulse).
KV_OS_API void osSetEvent(void*& event);
KV_OS_API void osResetEvent(void*& event);

// Waits until one of the `count` events is signalled and returns its index;
// when several are, the lowest. 0 only tests; 0xFFFFFFFF waits without limit.
// The time-out runs on the monotonic clock: changing the wall clock neither
// stretches nor cuts it. Returns -1 on time-out, for a count below 1, a null
// array or a null event in it. There is no limit on `count` (the same event
// may appear more than once); a wait over more than a few events needs a
// small allocation and returns -1 when it cannot be made.
KV_OS_API int osWaitForEvents(int count, void** events, unsigned int timeoutMs);

// The process-wide events, made when the library is loaded and closed when
// it is unloaded: the first always signalled, the second never. Callers must
// not set, reset or destroy them.
KV_OS_API void*& osGetSignalledEvent();
KV_OS_API void*& osGetNonSignalledEvent();

}  // namespace Korvane

#endif
