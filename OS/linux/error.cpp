#include <cerrno>
#include <cstring>

#include "OS/host/error.h"

namespace Korvane::host {

int LastError() noexcept { return errno; }

int ErrorNumber(ErrorKind kind) noexcept {
  switch (kind) {
    case ErrorKind::kBadAddress:
      return EFAULT;
    case ErrorKind::kBusy:
      return EBUSY;
    case ErrorKind::kExists:
      return EEXIST;
    case ErrorKind::kInvalidArgument:
      return EINVAL;
    case ErrorKind::kNotSeekable:
      return ESPIPE;
    case ErrorKind::kNoMemory:
      return ENOMEM;
    case ErrorKind::kNoSuchProcess:
      return ESRCH;
    case ErrorKind::kTooSmall:
      return ERANGE;
  }
  return EINVAL;
}

void SetLastError(int code) noexcept { errno = code; }

char const* ErrorText(int code, char* buf, std::size_t cap) noexcept {
  // glibc describes unknown numbers as "Unknown error N"; only numbers that
  // the C library really knows get a description.
  if (strerrordesc_np(code) == nullptr) return nullptr;
  int saved = errno;
  char const* text = strerror_r(code, buf, cap);  // GNU form: may return a static text
  errno = saved;
  return text;
}

}  // namespace Korvane::host
