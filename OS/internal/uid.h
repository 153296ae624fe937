// Load and unload steps of the identifier unit.
#ifndef KV_OS_INTERNAL_UID_H
#define KV_OS_INTERNAL_UID_H

namespace Korvane {

// Constructs the empty identifier in its block.
void MakeEmptyUid() noexcept;

}  // namespace Korvane

#endif
