// C runtime streams opened by UTF-8 name.
#ifndef KV_OS_WINDOWS_CRTFILE_H
#define KV_OS_WINDOWS_CRTFILE_H

#include <cstdio>

namespace Korvane::win {

// _wfopen of the UTF-8 `path` with `mode` plus "N" (not inherited by
// children). On failure null, with the host's error as the last error.
std::FILE* OpenCrtFile(char const* path, char const* mode) noexcept;

}  // namespace Korvane::win

#endif
