// The library's load and unload sequences.
//
// The host's load hook (OS/linux/load.cpp) calls LibraryLoad before any
// caller can reach the library and LibraryUnload after the last one has
// gone. Nothing else in the library runs at load time: every other object
// with static storage is constant-initialised, which a test checks.
#ifndef KV_OS_HOST_STARTUP_H
#define KV_OS_HOST_STARTUP_H

namespace Korvane::host {

void LibraryLoad() noexcept;
void LibraryUnload() noexcept;

// True between the end of LibraryLoad and the start of LibraryUnload.
bool LibraryReady() noexcept;

}  // namespace Korvane::host

#endif
