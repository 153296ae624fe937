/// \file
/// Processes: starting, watching and stopping programs; the environment, the
/// temporary directory and the user.
///
/// Processes are named by their process id; the library keeps no open handle
/// to them. The library reaps the programs that it starts itself: each one
/// gets a small watcher thread of the library ("kv_Os reaper" in `ps -L`,
/// all signals blocked) that
/// waits for that child alone and reaps it as soon as it ends, so no zombie
/// stays behind, without any further call by the application, also when the
/// application runs as process 1 of a container. The library never sets a
/// process-wide SIGCHLD disposition and never waits for children that the
/// application started itself. Once it has started a watcher the library
/// stays loaded until the process ends.
///
/// Ids and their reuse: the watcher records a child's end before it reaps it,
/// and until then the child's id cannot be given to another process. So for
/// a program that the library started, osIsProcessExist turns false when the
/// program ends and stays false, and osKillProcess refuses (ESRCH) instead
/// of hitting whatever process later gets the same id. The library remembers
/// its last 256 ended children (and forgets one at osCloseProcessHandle);
/// ids beyond that are asked of the host like any other process.
#ifndef KV_OS_OSPROCESS_H
#define KV_OS_OSPROCESS_H

#include "OS/osbase.h"
#include "OS/oserror.h"
#include "OS/osstring.h"

namespace Korvane {

/// Starts a program. The command line (program, a blank and the arguments
/// when they are not empty) is split into arguments as the framework's
/// original host does: the program name ends at the first blank outside
/// double quotes; then 2n backslashes before a quote give n backslashes and
/// the quote groups, 2n+1 give n backslashes and a literal quote, other
/// backslashes stay, and "" inside quotes is a literal quote. The program
/// starts in a new session (no controlling terminal), with the caller's
/// environment and directory, default signal dispositions and no blocked
/// signal, and inherits no descriptor besides standard input, output and
/// error.
/// \param err gets code 5, ".\osprocess", "Failed to create process: %s"
///   with the host's reason; may be null. A program that is missing or not
///   executable is such a failure, never a child that dies at once.
/// \param program the program, found on PATH unless its name holds a '/'.
/// \param arguments the rest of the command line, or null.
/// \param third no meaning on Linux; ignored.
/// \param fourth no meaning on Linux; ignored.
/// \param desktop no meaning on Linux; ignored.
/// \return the new process's id, or 0 on failure.
KV_OS_API unsigned int osCreateProcess(cKV_Error* err, char const* program, char const* arguments,
                                       char const* third, char const* fourth, char const* desktop);
/// \return the calling process's id.
KV_OS_API unsigned int osGetCurrentProcessId();
/// Forgets a process; it keeps running.
/// \param pid the process id; set to 0.
KV_OS_API void osCloseProcessHandle(unsigned int& pid);
/// Stops a process at once with SIGKILL and does not wait for it to go.
/// \param err gets code 5, ".\osprocess": "Invalid process id" for 0;
///   "Failed to open process %d. %s" when no such process exists (a thread
///   of another process included); "Failed to kill process %d. %s" when it
///   exists but may not be signalled. May be null.
/// \param pid the process id.
/// \param exitCode ignored: Linux cannot choose the exit code, the process
///   ends by signal 9.
/// \return whether the signal was sent.
KV_OS_API bool osKillProcess(cKV_Error* err, unsigned int& pid, unsigned int exitCode);
/// Whether a process runs.
/// \param pid the process id.
/// \return true exactly while the process runs: an ended process that is
///   not yet reaped (a zombie) counts as ended; a process of another user
///   that may not be signalled counts as running; a thread id of another
///   process is no process.
KV_OS_API bool osIsProcessExist(unsigned int& pid);
/// The exit status of a program that the library started and that has ended.
/// \param pid the process id.
/// \param code gets its exit status, or 128 + the signal number when a
///   signal ended it (as shells report it).
/// \return false while it runs, for 0, and for a process that the library
///   did not start or no longer remembers (see osCloseProcessHandle).
KV_OS_API bool osGetProcessExitCode(unsigned int pid, int& code);
/// Linux shows no error dialogs: does nothing.
KV_OS_API void osSetSilentErrorMode();

/// The effective user's login name from the user database.
/// \param user gets the name.
/// \return false, `user` unchanged, when the user has no entry.
KV_OS_API bool osGetCurrentProcessUser(cKV_String& user);
/// Reads an environment variable.
/// \param name the variable's name.
/// \param value gets the value.
/// \return false, `value` unchanged, when the variable is not set, the
///   name is null or holds '='.
KV_OS_API bool osGetEnv(char const* name, cKV_String& value);
/// Sets an environment variable for this process and the programs it
/// starts. Like setenv, not safe against concurrent readers of the
/// environment.
/// \param name the variable's name.
/// \param value the value; empty or null removes the variable.
/// \return false, changing nothing, for a null or empty name or one holding
///   '='.
KV_OS_API bool osSetEnv(char const* name, char const* value);
/// The directory for temporary files.
/// \return TMPDIR when it names a directory, else "/tmp/" (or "/" should
///   /tmp be missing); always with a trailing '/'.
KV_OS_API cKV_String osGetTemp();

}  // namespace Korvane

#endif
