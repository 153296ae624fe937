// Threads: starting and joining them, sleeping, thread identifiers and
// priorities.
#ifndef KV_OS_OSTHREAD_H
#define KV_OS_OSTHREAD_H

#include "OS/osbase.h"
#include "OS/oserror.h"

namespace Korvane {

// Runs function(arg) on a new POSIX thread that belongs to the caller.
// `notify` (optional) is called on the new thread with (true, id, arg, 0)
// before the function and with (false, id, arg, result) after it returns.
// Returns the handle, or null: code 7 ".\osthread" when the start record
// cannot be allocated, code 4 "Failed to create new thread. %s" when the
// host refuses the thread (a null function is refused the same way).
KV_OS_API void* osCreateThread(cKV_Error* err, unsigned int (*function)(void*), void* arg,
                               void (*notify)(bool, unsigned int, void*, unsigned int));
// Waits without limit until the thread has ended, releases it and sets the
// handle to null; a null handle returns at once. Called on the thread
// itself, it cannot wait: the thread is released when it ends.
KV_OS_API void osCloseThread(void*& thread);

// The kernel's thread id (gettid), as `ps -L` and `top -H` show it. Cheap:
// it is read from the host once per thread.
KV_OS_API unsigned int osGetCurrentThreadId();

// Suspends the calling thread for `ms` milliseconds; signals do not cut it
// short.
KV_OS_API void osSleep(unsigned int ms);

// Priorities -2 (lowest) .. 2 (highest) are the calling thread's nice values
// 10, 5, 0, -5, -10. Other values are ignored. Raising the priority above
// what the process may (without CAP_SYS_NICE or a matching RLIMIT_NICE)
// leaves it unchanged; so, for an unprivileged thread, does lowering the
// nice value back after raising it.
KV_OS_API void osSetPriority(int priority);
// The calling thread's nice value mapped onto the nearest of -2..2;
// 0x7FFFFFFF when the host cannot tell.
KV_OS_API int osGetPriority();

// Blocks every asynchronously delivered signal for the calling thread, so
// that the application's signals go to its other threads. Faults that the
// thread raises itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS,
// SIGABRT) stay deliverable.
KV_OS_API void osThreadDisableSignals();

}  // namespace Korvane

#endif
