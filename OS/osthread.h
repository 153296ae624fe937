/// \file
/// Threads: starting and joining them, sleeping, thread identifiers and
/// priorities.
#ifndef KV_OS_OSTHREAD_H
#define KV_OS_OSTHREAD_H

#include "OS/osbase.h"
#include "OS/oserror.h"

namespace Korvane {

/// Runs function(arg) on a new thread that belongs to the caller (the
/// library starts no thread of its own for it).
/// \param err gets code 7 ".\osthread" when the start record cannot be
///   allocated, code 4 "Failed to create new thread. %s" when the host
///   refuses the thread (a null function is refused the same way); may be
///   null.
/// \param function the thread's function; its result is handed to `notify`.
/// \param arg the argument of `function` and `notify`.
/// \param notify optional: called on the new thread with (true, id, arg, 0)
///   before the function and with (false, id, arg, result) after it
///   returns, `id` being the thread id.
/// \return the thread handle for osCloseThread, or null on failure.
KV_OS_API void* osCreateThread(cKV_Error* err, unsigned int (*function)(void*), void* arg,
                               void (*notify)(bool, unsigned int, void*, unsigned int));
/// Waits without limit until the thread has ended and releases it. Called
/// on the thread itself, it cannot wait: the thread is released when it
/// ends.
/// \param thread the handle; null returns at once, otherwise it is set to
///   null.
KV_OS_API void osCloseThread(void*& thread);

/// The calling thread's id. Cheap: it is read from the host once per
/// thread.
/// \return the kernel's thread id (gettid), as `ps -L` and `top -H` show it.
KV_OS_API unsigned int osGetCurrentThreadId();

/// Suspends the calling thread; signals do not cut it short.
/// \param ms the milliseconds to sleep.
KV_OS_API void osSleep(unsigned int ms);

/// Sets the calling thread's priority. Raising the priority above what the
/// process may (without CAP_SYS_NICE or a matching RLIMIT_NICE) leaves it
/// unchanged; so, for an unprivileged thread, does lowering the nice value
/// back after raising it.
/// \param priority -2 (lowest) .. 2 (highest), the nice values 10, 5, 0, -5,
///   -10; other values are ignored.
KV_OS_API void osSetPriority(int priority);
/// The calling thread's priority.
/// \return its nice value mapped onto the nearest of -2..2; 0x7FFFFFFF when
///   the host cannot tell.
KV_OS_API int osGetPriority();

/// Blocks every asynchronously delivered signal for the calling thread, so
/// that the application's signals go to its other threads. Faults that the
/// thread raises itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS,
/// SIGABRT) stay deliverable.
KV_OS_API void osThreadDisableSignals();

}  // namespace Korvane

#endif
