// The host's error numbers and their descriptions.
#ifndef KV_OS_HOST_ERROR_H
#define KV_OS_HOST_ERROR_H

#include <cstddef>

namespace Korvane::host {

// The calling thread's last host error number.
int LastError() noexcept;
void SetLastError(int code) noexcept;

// The host's description of `code`, written into `buf`, or null when the host
// does not describe that number.
char const* ErrorText(int code, char* buf, std::size_t cap) noexcept;

}  // namespace Korvane::host

#endif
