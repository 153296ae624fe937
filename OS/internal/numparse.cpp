#include "OS/internal/numparse.h"

#include <cstdint>

namespace Korvane::internal {

namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

}  // namespace

unsigned int ParseInt32(char const* text, int base, bool isSigned, std::size_t* consumed) noexcept {
  *consumed = 0;
  if (text == nullptr || base < 0 || base == 1 || base > 36) return 0;
  char const* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // A "0x" prefix counts only when a hexadecimal digit follows it; otherwise
  // the '0' alone is the number.
  if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
    p += 2;
    base = 16;
  } else if (base == 0) {
    base = p[0] == '0' ? 8 : 10;
  }
  char const* digits = p;
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (int d; (d = DigitValue(*p)) < base; ++p) {
    magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    if (magnitude > 0xFFFFFFFFull) {
      overflow = true;
      magnitude = 0xFFFFFFFFull + 1;  // keeps the sum from wrapping
    }
  }
  if (p == digits) return 0;
  *consumed = static_cast<std::size_t>(p - text);
  if (isSigned) {
    if (negative) {
      if (overflow || magnitude > 0x80000000ull) return 0x80000000u;
      return static_cast<unsigned int>(0u - static_cast<unsigned int>(magnitude));
    }
    if (overflow || magnitude > 0x7FFFFFFFull) return 0x7FFFFFFFu;
    return static_cast<unsigned int>(magnitude);
  }
  if (overflow) return 0xFFFFFFFFu;
  unsigned int value = static_cast<unsigned int>(magnitude);
  return negative ? 0u - value : value;
}

}  // namespace Korvane::internal
