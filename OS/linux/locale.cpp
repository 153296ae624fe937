#include <locale.h>
#include <stdlib.h>

#include "OS/host/locale.h"

namespace Korvane::host {

double StrToDoubleC(char const* text, char** end) noexcept {
  // Made on first use, never at load; the "C" locale cannot fail to load.
  static locale_t const cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  if (cLocale == static_cast<locale_t>(nullptr)) return strtod(text, end);
  return strtod_l(text, end, cLocale);
}

}  // namespace Korvane::host
