// Where the load and unload sequences run on this host.
#ifndef KV_OS_WINDOWS_LOADER_H
#define KV_OS_WINDOWS_LOADER_H

namespace Korvane::win {

// True while kv_Os.dll's entry point runs the load or unload sequence under
// the loader lock. Steps that would load other libraries or wait for other
// threads there (starting the socket layer, asking for the network
// adapters) are deferred to the first call that needs them.
bool InLoaderLock() noexcept;
void SetInLoaderLock(bool held) noexcept;

}  // namespace Korvane::win

#endif
