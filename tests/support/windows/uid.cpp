#include <windows.h>

#include "unit/osuid_helpers.h"

namespace uidtest {

unsigned int HostProcessId() { return static_cast<unsigned int>(GetCurrentProcessId()); }

}  // namespace uidtest
