#include "OS/osthread.h"

#include "OS/host/thread.h"

namespace Korvane {

void osSleep(unsigned int ms) { host::SleepMs(ms); }

}  // namespace Korvane
