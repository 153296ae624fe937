#include "OS/windows/crtfile.h"

#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "OS/windows/wide.h"

namespace Korvane::win {

std::FILE* OpenCrtFile(char const* path, char const* mode) noexcept {
  wchar_t wideMode[16];
  std::size_t length = mode != nullptr ? std::strlen(mode) : 0;
  if (length == 0 || length + 2 > sizeof wideMode / sizeof wideMode[0]) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    errno = EINVAL;
    return nullptr;
  }
  for (std::size_t i = 0; i < length; ++i) wideMode[i] = static_cast<unsigned char>(mode[i]);
  wideMode[length] = L'N';
  wideMode[length + 1] = L'\0';
  WidePath name(path);
  if (!name.Ok()) {
    errno = EINVAL;
    return nullptr;
  }
  _doserrno = 0;
  std::FILE* f = ::_wfopen(name.Get(), wideMode);
  // The runtime keeps the host's error apart from errno.
  if (f == nullptr && _doserrno != 0) ::SetLastError(static_cast<DWORD>(_doserrno));
  return f;
}

}  // namespace Korvane::win
