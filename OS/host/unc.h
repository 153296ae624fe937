// The host's network provider: the universal (\\server\share) name behind
// a local path.
#ifndef KV_OS_HOST_UNC_H
#define KV_OS_HOST_UNC_H

#include <cstddef>

namespace Korvane::host {

// The provider's answers that the library tells apart.
enum class UncAnswer {
  kFound,                  // `universal` holds the name
  kNoAnswer,               // a local path, no network, or another refusal
  kBadDevice,              // ERROR_BAD_DEVICE
  kConnectionUnavailable,  // ERROR_CONNECTION_UNAVAIL
  kNotSupported,           // ERROR_NOT_SUPPORTED
  kMountTable,             // the host has no provider: ask its mount table
};

// `path` made full (into `full`, empty when that fails) and the universal
// name the provider gives for it (into `universal`), both UTF-8.
UncAnswer UniversalName(char const* path, char* full, std::size_t fullCap, char* universal,
                        std::size_t universalCap) noexcept;

// Tests replace the provider with recorded answers; null restores the host.
using UncProvider = UncAnswer (*)(char const* path, char* full, std::size_t fullCap, char* universal,
                                  std::size_t universalCap);
void SetUncProvider(UncProvider provider) noexcept;
// The provider in force: the recorded one or the host's.
UncAnswer UniversalNameNow(char const* path, char* full, std::size_t fullCap, char* universal,
                           std::size_t universalCap) noexcept;

}  // namespace Korvane::host

#endif
