// Host process operations: starting and watching children, probing and
// stopping processes, the user, the environment.
#ifndef KV_OS_HOST_PROCESS_H
#define KV_OS_HOST_PROCESS_H

#include <cstddef>

namespace Korvane::host {

// Starts the program of `commandLine` as a child, detached from the
// caller's terminal or console, with the caller's environment and
// directory and nothing else inherited: Linux splits the line into
// arguments, searches argv[0] on PATH unless it holds a '/', and starts the
// child in a new session with default signal dispositions, no blocked
// signal and no descriptor besides 0, 1 and 2; Windows hands the line to
// the host as it is, on `desktop` when that is not empty.
// Returns 0 and the child's id, or the host's error number (also the last
// error) when the program cannot be started; nothing is left behind then.
int Spawn(char const* commandLine, char const* desktop, unsigned int& pid) noexcept;

// For children that the library started itself:
// blocks until the child has ended (or is no longer a child), without
// reaping it, so its id stays taken; gives its exit status (on Linux 128 +
// the signal number when a signal ended it), false when it is no child;
bool AwaitChildEnd(unsigned int pid, int& status) noexcept;
// whether it has ended (or is no longer a child), without reaping it;
bool ChildEnded(unsigned int pid) noexcept;
// reaps it.
void ReapChild(unsigned int pid) noexcept;

// Starts a detached thread with a small stack and every signal blocked.
// Returns 0, or the host's error number (also the last error).
int StartDetachedThread(void* (*entry)(void*), void* arg) noexcept;
// Names the calling thread as `ps -L` and `top -H` show it (at most 15
// characters).
void NameCurrentThread(char const* name) noexcept;
// Keeps the library loaded until the process ends (threads of its own run
// its code).
void KeepLoaded() noexcept;

// Handlers run around a fork of the process: before it, after it in the
// parent and after it in the child.
void AtFork(void (*prepare)(), void (*parent)(), void (*child)()) noexcept;

unsigned int ProcessId() noexcept;

enum class ProcessState { Gone, Running, Ended };
// What the host tells about process `pid` (not a thread of another
// process): a process that exists but may not be signalled is Running; a
// zombie is Ended.
ProcessState ProbeProcess(unsigned int pid) noexcept;
// Ends the process at once, with `exitCode` where the host keeps one.
// Returns 0, or the host's error number (also the last error) with
// `opened` telling whether the process could be opened.
int KillProcess(unsigned int pid, unsigned int exitCode, bool& opened) noexcept;

// Stops the host from showing error dialogs for this process.
void SilenceErrorDialogs() noexcept;

// The effective user's login name, written into `buf`. 0, the number of
// ErrorKind::kTooSmall when `buf` is too small, or another error number.
int EffectiveUserName(char* buf, std::size_t cap) noexcept;

// Null when not set.
char const* GetEnv(char const* name) noexcept;
// Empty or null `value` removes the variable. False when the host refuses
// the name.
bool SetEnv(char const* name, char const* value) noexcept;
// The host's directory for temporary files, with its final separator,
// written into `buf` when it fits; returns its length (without the NUL).
std::size_t TempDirectory(char* buf, std::size_t cap) noexcept;

}  // namespace Korvane::host

#endif
