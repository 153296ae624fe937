// Host pacing for the identifier generator.
#ifndef KV_OS_HOST_UID_H
#define KV_OS_HOST_UID_H

namespace Korvane::host {

// Sleeps until the real-time (UTC) clock reaches the given instant;
// returns at once when it has. Signals do not cut the sleep short.
void SleepUntilRealTime(long long seconds, long nanoseconds) noexcept;

}  // namespace Korvane::host

#endif
