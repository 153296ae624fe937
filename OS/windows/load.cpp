// The Windows load hook of kv_Os.dll.
//
// DllMain runs under the loader lock, before any caller can reach the
// library (attach) and after the last one has gone (detach). What runs here
// must neither load other DLLs nor start or wait for threads: the load
// steps create critical sections, events and plain memory, read clocks,
// ask kernel32 and ntdll about the machine and read two registry values
// through advapi32 (imported by the DLL, so set up before it), and nothing
// more. What needs more is done by the first call that needs it, outside
// the lock: WSAStartup (step 4) by the first socket call, the adapter query
// for the identifier node (step 2) by the first Generate. At unload the
// socket layer is not cleaned up under the lock either; its count stays
// with the process.
#include <windows.h>

#include "OS/host/startup.h"
#include "OS/windows/loader.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      Korvane::win::SetInLoaderLock(true);
      Korvane::host::LibraryLoad();
      Korvane::win::SetInLoaderLock(false);
      break;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved set) the other threads are already gone,
      // perhaps holding the library's locks: nothing is released then, the
      // process's end takes everything. Only FreeLibrary unloads in order.
      if (reserved == nullptr) {
        Korvane::win::SetInLoaderLock(true);
        Korvane::host::LibraryUnload();
      }
      break;
    default:
      break;
  }
  return TRUE;
}
