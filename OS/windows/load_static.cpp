// The load hook of programs that link the library's objects themselves
// (the tests): the first of the program's constructors, the last of its
// destructors, as the shared library's DllMain is for its users.
#include "OS/host/startup.h"

namespace {

__attribute__((constructor(101))) void KvOsLoad() { Korvane::host::LibraryLoad(); }

__attribute__((destructor(101))) void KvOsUnload() { Korvane::host::LibraryUnload(); }

}  // namespace
