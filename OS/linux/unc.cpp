#include "OS/host/unc.h"

namespace Korvane::host {

// Linux has no network provider; network mounts are found in the mount
// table instead.
UncAnswer UniversalName(char const*, char* full, std::size_t fullCap, char* universal,
                        std::size_t universalCap) noexcept {
  if (fullCap > 0) full[0] = '\0';
  if (universalCap > 0) universal[0] = '\0';
  return UncAnswer::kMountTable;
}

}  // namespace Korvane::host
