// Hostile texts for the identifier's text form: a failed parse changes
// nothing, a successful one reads back through the text form, and no read
// goes past the terminator.
#include <cstdint>
#include <cstring>
#include <string>

#include "OS/osuid.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string text(reinterpret_cast<char const*>(data), size);
  Korvane::cKV_Uid u(0x5a5a5a5a);
  Korvane::cKV_Uid const before(u);
  if (u.FromString(text.c_str())) {
    if (std::strlen(text.c_str()) < 34 || text[0] != '0' || text[1] != 'x') __builtin_trap();
    Korvane::cKV_Uid again;
    if (!again.FromString(u.ToString()) || again != u) __builtin_trap();
  } else if (u != before) {
    __builtin_trap();
  }
  return 0;
}
