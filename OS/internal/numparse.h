// strtol/strtoul with the results of a 32-bit long, independent of the
// process's locale (the library never depends on the caller's locale).
#ifndef KV_OS_INTERNAL_NUMPARSE_H
#define KV_OS_INTERNAL_NUMPARSE_H

#include <cstddef>

namespace Korvane::internal {

// Parses `text` as strtol (isSigned) or strtoul would with a 32-bit long.
// Returns the 32-bit result; `*consumed` gets the characters taken, 0 when
// no number was found. Never reads past the first byte that ends the number.
unsigned int ParseInt32(char const* text, int base, bool isSigned, std::size_t* consumed) noexcept;

}  // namespace Korvane::internal

#endif
