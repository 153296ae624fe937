// Host thread operations.
#ifndef KV_OS_HOST_THREAD_H
#define KV_OS_HOST_THREAD_H

namespace Korvane::host {

// Sleeps the whole span, resuming after interruptions.
void SleepMs(unsigned int ms) noexcept;

}  // namespace Korvane::host

#endif
