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

}  // namespace Korvane

#endif
