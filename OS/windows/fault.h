// A fault armed at a point of the seam, as the Windows bodies report it:
// the error number becomes the thread's last error, as a failing host call
// would leave it.
#ifndef KV_OS_WINDOWS_FAULT_H
#define KV_OS_WINDOWS_FAULT_H

#include <windows.h>

#include "OS/host/fault.h"

namespace Korvane::win {

inline bool Injected(char const* point) noexcept {
  int e = host::Fault(point);
  if (e == 0) return false;
  ::SetLastError(static_cast<DWORD>(e));
  return true;
}

}  // namespace Korvane::win

#endif
