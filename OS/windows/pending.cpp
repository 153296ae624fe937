// Load steps of the units that are not built for Windows yet (identifiers):
// they have nothing to make until those units come, and each goes when its
// unit does.
#include "OS/internal/uid.h"

namespace Korvane {

void StartUidGenerator() noexcept {}
void StopUidGenerator() noexcept {}
void MakeEmptyUid() noexcept {}

}  // namespace Korvane
