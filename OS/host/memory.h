// Allocation through the seam. The library never lets std::bad_alloc escape:
// every allocation it reports on is a non-throwing one that passes the
// fault point "alloc", so tests can refuse it.
#ifndef KV_OS_HOST_MEMORY_H
#define KV_OS_HOST_MEMORY_H

#include <cstdlib>
#include <new>
#include <utility>

#include "OS/host/fault.h"

namespace Korvane::host {

inline char* NewChars(std::size_t count) noexcept {
  if (Fault("alloc") != 0) return nullptr;
  return new (std::nothrow) char[count];
}

inline void DeleteChars(char* block) noexcept { delete[] block; }

template <class T, class... Args>
T* New(Args&&... args) noexcept {
  if (Fault("alloc") != 0) return nullptr;
  return new (std::nothrow) T(std::forward<Args>(args)...);
}

// C heap blocks (byte buffers that move between owners).
inline void* Malloc(std::size_t size) noexcept {
  if (Fault("alloc") != 0) return nullptr;
  return std::malloc(size);
}

inline void* Realloc(void* block, std::size_t size) noexcept {
  if (Fault("alloc") != 0) return nullptr;
  return std::realloc(block, size);
}

inline void Free(void* block) noexcept { std::free(block); }

}  // namespace Korvane::host

#endif
