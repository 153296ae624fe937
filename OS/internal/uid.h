// Load and unload steps of the identifier unit.
#ifndef KV_OS_INTERNAL_UID_H
#define KV_OS_INTERNAL_UID_H

namespace Korvane {

struct tTimeb;

// The generator's state: node, critical section, last time stamp.
void StartUidGenerator() noexcept;
void StopUidGenerator() noexcept;
// Constructs the empty identifier in its block.
void MakeEmptyUid() noexcept;

namespace internal {
// The node as the generator takes it: the first Ethernet address, or the
// library's load time when that is all zeros.
void UidNode(unsigned char (&node)[6], tTimeb const& loaded) noexcept;
}  // namespace internal

}  // namespace Korvane

#endif
