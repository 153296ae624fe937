#include <locale.h>
#include <stdlib.h>

#include "OS/host/locale.h"

namespace Korvane::host {

double StrToDoubleC(char const* text, char** end) noexcept {
  // Made on first use, never at load.
  static _locale_t const cLocale = _create_locale(LC_ALL, "C");
  if (cLocale == nullptr) return strtod(text, end);
  return _strtod_l(text, end, cLocale);
}

}  // namespace Korvane::host
