// Number text that does not depend on the caller's locale.
#ifndef KV_OS_HOST_LOCALE_H
#define KV_OS_HOST_LOCALE_H

namespace Korvane::host {

// strtod in the "C" locale, whatever locale the process has set.
double StrToDoubleC(char const* text, char** end) noexcept;

}  // namespace Korvane::host

#endif
