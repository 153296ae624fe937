// Decimal text of 32-bit numbers without the printf machinery: the data
// streams write a number per field, and the text is what "%u" and "%d" give.
#ifndef KV_OS_INTERNAL_DECIMAL_H
#define KV_OS_INTERNAL_DECIMAL_H

namespace Korvane::internal {

// Room for "-2147483648" and for "4294967295".
constexpr int kDecimalMax = 11;

// Writes the digits of `value` to `text` (no NUL); returns their count.
inline int FormatUnsigned(unsigned int value, char* text) noexcept {
  char reversed[kDecimalMax];
  int n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = 0; i < n; ++i) text[i] = reversed[n - 1 - i];
  return n;
}

inline int FormatSigned(int value, char* text) noexcept {
  if (value >= 0) return FormatUnsigned(static_cast<unsigned int>(value), text);
  text[0] = '-';
  return 1 + FormatUnsigned(0u - static_cast<unsigned int>(value), text + 1);
}

}  // namespace Korvane::internal

#endif
