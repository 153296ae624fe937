// Host pacing for the identifier generator.
#ifndef KV_OS_HOST_UID_H
#define KV_OS_HOST_UID_H

namespace Korvane::host {

// Sleeps until the real-time (UTC) clock reaches the given instant;
// returns at once when it has. Signals do not cut the sleep short.
void SleepUntilRealTime(long long seconds, long nanoseconds) noexcept;

// Whether the load sequence may ask the host for its network adapters now.
// Where it may not (under a loader lock), the generator's node is taken by
// the first Generate instead.
bool UidNodeAtLoad() noexcept;

}  // namespace Korvane::host

#endif
