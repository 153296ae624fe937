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

// For an event whose sets and resets one lock serialises, and that is waited
// for only by threads that announce the wait under that lock before they
// leave it and withdraw it under the lock once the wait returned (the
// reader/writer mutex's released event). With no wait announced nobody can
// be linked to the event, so setting and resetting it take no
// read-modify-write; otherwise they are osSetEvent and osResetEvent.
void AnnounceWait(void* event) noexcept;
void WithdrawWait(void* event) noexcept;
void SetEventLocked(void* event) noexcept;
void ResetEventLocked(void* event) noexcept;
// Spins briefly while the event is not signalled; true once it is.
bool SignalledSoon(void* event) noexcept;

}  // namespace Korvane::internal

#endif
