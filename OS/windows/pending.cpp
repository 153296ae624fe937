// Load steps of the units that are not built for Windows yet (events,
// identifiers): they have nothing to make until those units come, and each
// goes when its unit does.
#include "OS/internal/events.h"
#include "OS/internal/uid.h"

namespace Korvane {

namespace internal {
void CreateEventPair() noexcept {}
void CloseEventPair() noexcept {}
}  // namespace internal

void StartUidGenerator() noexcept {}
void StopUidGenerator() noexcept {}
void MakeEmptyUid() noexcept {}

}  // namespace Korvane
