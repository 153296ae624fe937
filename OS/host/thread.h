// Host thread operations.
#ifndef KV_OS_HOST_THREAD_H
#define KV_OS_HOST_THREAD_H

namespace Korvane::host {

// Sleeps the whole span, resuming after interruptions.
void SleepMs(unsigned int ms) noexcept;

// Starts a joinable thread running entry(arg) with the host's default
// stack; what entry returns, taken as an unsigned number, is the thread's
// exit code where the host keeps one. Returns 0 and the handle, or the host's error number (also left as
// the last error).
int ThreadCreate(void* (*entry)(void*), void* arg, void*& handle) noexcept;
// Waits for the thread to end and releases it. Called on the thread itself,
// it cannot wait: the thread is released when it ends instead.
void ThreadJoin(void* handle) noexcept;

// The kernel's id of the calling thread.
unsigned int CurrentThreadId() noexcept;

// The calling thread's priority level: -2 lowest .. 2 highest, 0 normal;
// the host may report levels beyond these that other code set. False (with
// the last error set) when it cannot be read or changed.
bool GetPriority(int& level) noexcept;
bool SetPriority(int level) noexcept;

// Blocks every signal that the host delivers asynchronously for the calling
// thread; faults raised by the thread itself stay deliverable.
void BlockAsyncSignals() noexcept;

}  // namespace Korvane::host

#endif
