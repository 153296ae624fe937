// cKV_String, the library's one string type, and cKV_DataConv, the
// number/text conversions.
#ifndef KV_OS_OSSTRING_H
#define KV_OS_OSSTRING_H

#include "OS/osbase.h"

namespace Korvane {

// A heap-held, NUL-terminated string of 8-bit characters with value
// semantics. The heap block is the whole state: no length is cached and no
// spare capacity is kept, so every change that lengthens the text allocates
// a block of exactly the needed size (GetBuffer and Format may leave the
// block larger than the text).
//
// An empty string is either without buffer (after construction, after
// assignment of a null or empty text, after DeattachBuffer) or holds a buffer
// with only the NUL (after a Format that produced nothing, or GetBuffer on an
// empty string); operator== with a null pointer and Cmp tell them apart.
//
// Allocation never throws: an operation that cannot get memory leaves the
// string as it was.
class KV_OS_API cKV_String {
 public:
  cKV_String();
  cKV_String(char const* text);  // NOLINT: implicit by design
  cKV_String(cKV_String const& other);
  virtual ~cKV_String();

  // Assigning the string's own buffer pointer does nothing. Assigning a
  // pointer into the middle of the own text is supported (the old block is
  // released only after the copy).
  cKV_String& operator=(char const* text);
  cKV_String& operator=(cKV_String const& other);

  // The text; the shared empty text when there is no buffer. Never null.
  operator char const*() const;  // NOLINT: implicit by design
  unsigned int Length() const;
  // No check of any kind: the buffer must exist and `index` lie within it.
  char& operator[](int index);

  // A writable block of at least size + 1 bytes that keeps the current text;
  // the text is whatever ends at the first NUL. Size 0 returns the buffer as
  // it is (null without buffer); a size not above the current length returns
  // the current buffer. When memory cannot be obtained the old buffer
  // (possibly null) is returned and nothing changes.
  char* GetBuffer(unsigned int size);
  // Hands the buffer (null if none) to the caller, who releases it with
  // delete[]; the string is left without buffer.
  char* DeattachBuffer();

  // Appending the string's own text to itself is safe.
  cKV_String& operator+=(char const* text);
  cKV_String& operator+=(cKV_String const& other);
  cKV_String operator+(char const* text) const;
  cKV_String operator+(cKV_String const& other) const;

  // printf-style formatting that replaces the text. Returns the number of
  // characters produced; 0 with the string unchanged when memory could not
  // be obtained or the arguments cannot be formatted. The arguments may
  // point into the string's own text.
  int Format(char const* format, ...) KV_OS_PRINTF(2, 3);
  int FormatV(char const* format, va_list arguments) KV_OS_PRINTF(2, 0);

  // Change exactly the ASCII letters; every other byte stays as it is.
  void MakeLower();
  void MakeUpper();

  // Null `text`: true exactly when this string has no buffer. This string
  // without buffer: true exactly when `text` is empty. Otherwise byte
  // equality.
  bool operator==(char const* text) const;
  bool operator==(cKV_String const& other) const;
  // Content comparison; without these a C++17 caller's `s != "x"` would
  // compare pointers through the conversion operator.
  bool operator!=(char const* text) const { return !(*this == text); }
  bool operator!=(cKV_String const& other) const { return !(*this == other); }

  // False when this string has no buffer or `text` is null.
  bool Cmp(char const* text) const;
  bool CmpNoCase(char const* text) const;
  // Null counts as the empty text.
  static bool CmpNoCase(char const* a, char const* b);
  // Count 0: whether this whole string is a case-insensitive prefix of
  // `text`. A negative count is true whenever both texts exist.
  bool CmpPrefixNoCase(char const* text, int count = 0) const;
  // Count 0: whether `text` is a case-sensitive prefix of this string.
  bool CmpSub(char const* text, int count = 0);
  // -1, 0 or +1 by the first differing byte, bytes unsigned. Both non-null.
  static int Compare(char const* a, char const* b);

  // strtol/strtoul rules with 32-bit results: out-of-range values clamp the
  // way a 32-bit long does. `consumed` gets the characters taken from the
  // starting position, 0 when nothing could be parsed. Base 0 goes by prefix.
  // A start before the text or past its end gives 0 with 0 consumed.
  int ToLong(int start = 0, int* consumed = nullptr, int base = 10) const;
  static int ToLong(char const* text, int* consumed = nullptr, int base = 10);
  static unsigned int ToUlong(char const* text, int* consumed = nullptr, int base = 10);

 private:
  friend class cKV_Error;
  bool Assign(char const* text);
  void Swap(cKV_String& other) noexcept {
    char* block = _buffer;
    _buffer = other._buffer;
    other._buffer = block;
  }

  char* _buffer;
};

// Conversions between numbers and short texts in caller-supplied buffers.
class KV_OS_API cKV_DataConv {
 public:
  cKV_DataConv() = default;
  cKV_DataConv(cKV_DataConv const&) = default;
  cKV_DataConv& operator=(cKV_DataConv const&) { return *this; }

  // Base 64 over "0-9A-Za-z#$": at most 7 characters, no NUL written.
  static int LongToStr64(int value, char* text);
  // Reads at most 6 digits (after an optional '-'); returns the characters
  // consumed, so numbers may stand side by side separated by any non-digit.
  static int Str64ToLong(char const* text, int& value);
  // 16 significant digits, shorter of fixed and exponential notation,
  // NUL-terminated; returns the length. Needs room for 24 characters.
  // Values with at most 16 significant digits read back exactly; others
  // read back as their 16-digit rounding.
  static int DblToStr(double value, char* text);
  // strtod rules; 0 when nothing could be parsed. Returns the characters
  // consumed.
  static int StrToDbl(char const* text, double& value);
};

}  // namespace Korvane

#endif
