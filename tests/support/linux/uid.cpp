#include <unistd.h>

#include "unit/osuid_helpers.h"

namespace uidtest {

unsigned int HostProcessId() { return static_cast<unsigned int>(getpid()); }

}  // namespace uidtest
