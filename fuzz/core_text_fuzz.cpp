// Hostile texts for the parsers of the core values: error record texts,
// base-64 numbers, 32-bit number parsing and double text.
#include <cstdint>
#include <cstring>
#include <string>

#include "OS/oserror.h"
#include "OS/osstring.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  // The parsers take NUL-terminated texts; an exact-size copy lets the
  // address sanitizer catch any read past the terminator.
  std::string text(reinterpret_cast<char const*>(data), size);
  char const* t = text.c_str();

  Korvane::cKV_Error record;
  record.Set(4, "keep", 7, "keep");
  if (record.FromString(t)) {
    Korvane::cKV_Error again;
    if (!again.FromString(record.ToString()) || again.GetCode() != record.GetCode() ||
        again.GetLine() != record.GetLine() || !(again.GetUnit() == record.GetUnit()) ||
        !(again.GetText() == record.GetText()))
      __builtin_trap();
  } else if (record.GetCode() != 4 || record.GetLine() != 7 || !record.GetText().Cmp("keep")) {
    __builtin_trap();  // a failed parse must change nothing
  }

  int value = 0;
  int used = Korvane::cKV_DataConv::Str64ToLong(t, value);
  if (used < 0 || used > 7 || static_cast<size_t>(used) > std::strlen(t)) __builtin_trap();

  int consumed = 0;
  for (int base : {0, 10, 16}) {
    Korvane::cKV_String::ToLong(t, &consumed, base);
    if (consumed < 0 || static_cast<size_t>(consumed) > std::strlen(t)) __builtin_trap();
    Korvane::cKV_String::ToUlong(t, &consumed, base);
  }
  double d = 0;
  Korvane::cKV_DataConv::StrToDbl(t, d);

  Korvane::cKV_String s;
  s.Format("%s|%s", t, t);
  if (s.Length() != 2 * std::strlen(t) + 1) __builtin_trap();
  return 0;
}
