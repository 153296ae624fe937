// Events inside the library: the process-wide pair, made by the load
// sequence and closed at unload, and what tests may observe.
#ifndef KV_OS_INTERNAL_EVENTS_H
#define KV_OS_INTERNAL_EVENTS_H

namespace Korvane::internal {

// A failure leaves that handle null and is not reported.
void CreateEventPair() noexcept;
void CloseEventPair() noexcept;

// How many waits are in progress on `event`.
int EventWaiters(void* event) noexcept;

// Spins briefly while the event is not signalled; true once it is.
bool SignalledSoon(void* event) noexcept;

}  // namespace Korvane::internal

#endif
