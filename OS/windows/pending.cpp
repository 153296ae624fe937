// Load steps of the units that are not built for Windows yet (events,
// system description; identifiers in pending_uid.cpp): they have nothing
// to make until those units come, and each goes when its unit does.
#include "OS/internal/events.h"
#include "OS/internal/sysinfo.h"

namespace Korvane {

namespace internal {
void CreateEventPair() noexcept {}
void CloseEventPair() noexcept {}
}  // namespace internal

namespace sysinfo {
void LoadDescription() noexcept {}
void UnloadDescription() noexcept {}
}  // namespace sysinfo

}  // namespace Korvane
