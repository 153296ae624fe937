// Threads: sleeping (the rest of the unit follows).
#ifndef KV_OS_OSTHREAD_H
#define KV_OS_OSTHREAD_H

#include "OS/osbase.h"

namespace Korvane {

// Suspends the calling thread for `ms` milliseconds; signals do not cut it
// short.
KV_OS_API void osSleep(unsigned int ms);

}  // namespace Korvane

#endif
