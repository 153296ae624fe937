// The host's error numbers and their descriptions.
#ifndef KV_OS_HOST_ERROR_H
#define KV_OS_HOST_ERROR_H

#include <cstddef>

namespace Korvane::host {

// The calling thread's last host error number.
int LastError() noexcept;
void SetLastError(int code) noexcept;

// Kinds of failure that portable units report or test for; each host has
// its own number for each.
enum class ErrorKind {
  kBadAddress,    // a null name or buffer
  kBusy,          // sharing refused: the file is in use
  kExists,        // the name is taken
  kNotSeekable,   // the file has no positions (a pipe)
  kInvalidArgument,  // the host refused a value (a size asked of a file that has none)
  kNoMemory,      // memory could not be had
  kNoSuchProcess, // the process is gone
  kTooSmall,      // the buffer given is too small for the answer
};
int ErrorNumber(ErrorKind kind) noexcept;
inline bool LastErrorIs(ErrorKind kind) noexcept { return LastError() == ErrorNumber(kind); }

// The host's description of `code`, written into `buf`, or null when the host
// does not describe that number.
char const* ErrorText(int code, char* buf, std::size_t cap) noexcept;

}  // namespace Korvane::host

#endif
