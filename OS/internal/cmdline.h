// Splitting a command line into arguments by the rules of the framework's
// original host: the program name ends at the first blank outside quotes and
// knows no escapes; the other arguments follow the backslash-and-quote rules
// of its C runtime.
#ifndef KV_OS_INTERNAL_CMDLINE_H
#define KV_OS_INTERNAL_CMDLINE_H

#include <cstddef>

namespace Korvane::internal {

// Splits `line`. With null `argv` and `text` only measures: returns the
// number of arguments and sets `bytes` to the text they need, NULs included.
// Otherwise fills argv[0..count-1] (and argv[count] = null) with pointers
// into `text`. The program name is always there, possibly empty.
int SplitCommandLine(char const* line, char** argv, char* text, std::size_t& bytes) noexcept;

}  // namespace Korvane::internal

#endif
