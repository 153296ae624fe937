// The Linux load hook. The dynamic loader runs a shared library's
// constructors before those of anything that depends on it (the application
// and its other libraries) and runs its destructors after theirs, so the
// whole load sequence is complete before any caller's static object can
// reach the library. Priority 101 puts it first among the constructors of
// a program that links the library's objects statically (the tests).
#include "OS/host/startup.h"

namespace {

__attribute__((constructor(101))) void KvOsLoad() { Korvane::host::LibraryLoad(); }

__attribute__((destructor(101))) void KvOsUnload() { Korvane::host::LibraryUnload(); }

}  // namespace
