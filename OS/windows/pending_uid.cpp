// Load steps of the identifier unit until it is built for Windows: it
// comes with the critical sections and process ids that it builds on.
#include "OS/internal/uid.h"

namespace Korvane {

void StartUidGenerator() noexcept {}
void StopUidGenerator() noexcept {}
void MakeEmptyUid() noexcept {}

}  // namespace Korvane
