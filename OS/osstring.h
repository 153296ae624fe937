/// \file
/// cKV_String, the library's one string type, and cKV_DataConv, the
/// number/text conversions.
#ifndef KV_OS_OSSTRING_H
#define KV_OS_OSSTRING_H

#include "OS/osbase.h"

namespace Korvane {

/// A heap-held, NUL-terminated string of 8-bit characters with value
/// semantics. The heap block is the whole state: no length is cached and no
/// spare capacity is kept, so every change that lengthens the text allocates
/// a block of exactly the needed size (GetBuffer and Format may leave the
/// block larger than the text).
///
/// An empty string is either without buffer (after construction, after
/// assignment of a null or empty text, after DeattachBuffer) or holds a buffer
/// with only the NUL (after a Format that produced nothing, or GetBuffer on an
/// empty string); operator== with a null pointer and Cmp tell them apart.
///
/// Allocation never throws: an operation that cannot get memory leaves the
/// string as it was. One string is used by one thread at a time.
class KV_OS_API cKV_String {
 public:
  /// An empty string without buffer.
  cKV_String();
  /// A copy of `text`, in a block of exactly its size.
  /// \param text the text; null or empty gives a string without buffer.
  cKV_String(char const* text);  // NOLINT: implicit by design
  /// A copy of the other string's text.
  /// \param other the string copied.
  cKV_String(cKV_String const& other);
  /// Releases the buffer.
  virtual ~cKV_String();

  /// Replaces the text with a copy of `text`. Assigning the string's own
  /// buffer pointer does nothing. Assigning a pointer into the middle of the
  /// own text is supported (the old block is released only after the copy).
  /// \param text the new text; null or empty leaves the string without buffer.
  /// \return this string.
  cKV_String& operator=(char const* text);
  /// Replaces the text with a copy of the other string's; self-assignment
  /// does nothing.
  /// \param other the string copied.
  /// \return this string.
  cKV_String& operator=(cKV_String const& other);

  /// The text.
  /// \return the buffer, or the shared empty text when there is no buffer;
  ///   never null.
  operator char const*() const;  // NOLINT: implicit by design
  /// Counts the characters before the NUL (nothing is cached).
  /// \return the length; 0 without buffer.
  unsigned int Length() const;
  /// One character, with no check of any kind: the buffer must exist and
  /// `index` lie within it.
  /// \param index the position, from 0.
  /// \return the character at `index`, writable.
  char& operator[](int index);

  /// A writable block of at least size + 1 bytes that keeps the current text;
  /// the text is whatever ends at the first NUL.
  /// \param size the characters the caller wants room for. 0 returns the
  ///   buffer as it is (null without buffer); a size not above the current
  ///   length returns the current buffer.
  /// \return the block; when memory cannot be obtained, the old buffer
  ///   (possibly null), and nothing changes.
  char* GetBuffer(unsigned int size);
  /// Hands the buffer to the caller, who releases it with delete[]; the
  /// string is left without buffer.
  /// \return the buffer, or null when there was none.
  char* DeattachBuffer();

  /// Appends a text; appending the string's own text to itself is safe.
  /// \param text the text appended; null or empty changes nothing.
  /// \return this string (unchanged when memory could not be obtained).
  cKV_String& operator+=(char const* text);
  /// Appends the other string's text.
  /// \param other the string appended (it may be this string).
  /// \return this string.
  cKV_String& operator+=(cKV_String const& other);
  /// Concatenation; this string is unchanged.
  /// \param text the text appended; null counts as empty.
  /// \return a new string: this text followed by `text`.
  cKV_String operator+(char const* text) const;
  /// Concatenation; this string is unchanged.
  /// \param other the string appended.
  /// \return a new string: this text followed by the other's.
  cKV_String operator+(cKV_String const& other) const;

  /// printf-style formatting that replaces the text. The arguments may
  /// point into the string's own text.
  /// \param format the printf format.
  /// \return the number of characters produced; 0 with the string unchanged
  ///   when memory could not be obtained or the arguments cannot be
  ///   formatted.
  int Format(char const* format, ...) KV_OS_PRINTF(2, 3);
  /// Format with an argument list that the caller started.
  /// \param format the printf format.
  /// \param arguments the arguments; each attempt works on a copy.
  /// \return as for Format.
  int FormatV(char const* format, va_list arguments) KV_OS_PRINTF(2, 0);

  /// Changes exactly the letters A..Z to a..z; every other byte stays.
  void MakeLower();
  /// Changes exactly the letters a..z to A..Z; every other byte stays.
  void MakeUpper();

  /// Text equality that tells the two empty forms apart.
  /// \param text the text compared.
  /// \return for a null `text`, whether this string has no buffer; for this
  ///   string without buffer, whether `text` is empty; otherwise whether the
  ///   bytes are equal.
  bool operator==(char const* text) const;
  /// Equality with the other string's text; two empty strings are equal in
  /// either form.
  /// \param other the string compared.
  /// \return whether the texts are equal.
  bool operator==(cKV_String const& other) const;
  /// Content comparison; without it a C++17 caller's `s != "x"` would
  /// compare pointers through the conversion operator.
  /// \param text the text compared.
  /// \return the negation of operator==.
  bool operator!=(char const* text) const { return !(*this == text); }
  /// Content comparison.
  /// \param other the string compared.
  /// \return the negation of operator==.
  bool operator!=(cKV_String const& other) const { return !(*this == other); }

  /// Exact comparison.
  /// \param text the text compared.
  /// \return whether the bytes are equal; false when this string has no
  ///   buffer or `text` is null.
  bool Cmp(char const* text) const;
  /// Comparison that folds only A..Z to a..z.
  /// \param text the text compared.
  /// \return whether the texts are equal so folded; false when this string
  ///   has no buffer or `text` is null.
  bool CmpNoCase(char const* text) const;
  /// Comparison of two texts that folds only A..Z to a..z.
  /// \param a the first text; null counts as empty.
  /// \param b the second text; null counts as empty.
  /// \return whether the texts are equal so folded.
  static bool CmpNoCase(char const* a, char const* b);
  /// Case-insensitive (A..Z only) comparison of the first `count`
  /// characters.
  /// \param text the text compared.
  /// \param count the characters compared; 0 means this string's length,
  ///   so the call asks whether this whole string is a prefix of `text`.
  /// \return whether the first `count` characters of both agree; false when
  ///   either text is shorter than `count`, this string has no buffer or
  ///   `text` is null; true for a negative count whenever both texts exist.
  bool CmpPrefixNoCase(char const* text, int count = 0) const;
  /// Exact comparison of the first `count` characters.
  /// \param text the text compared.
  /// \param count the characters compared; 0 means the length of `text`,
  ///   so the call asks whether `text` is a prefix of this string.
  /// \return whether they agree; false when this string has no buffer or
  ///   `text` is null.
  bool CmpSub(char const* text, int count = 0);
  /// Orders two texts by their first differing byte, bytes unsigned.
  /// \param a the first text, not null.
  /// \param b the second text, not null.
  /// \return -1, 0 or +1.
  static int Compare(char const* a, char const* b);

  /// Parses a signed number with strtol rules and a 32-bit result:
  /// out-of-range values clamp the way a 32-bit long does.
  /// \param start the characters skipped first; a start before the text or
  ///   past its end gives 0 with 0 consumed.
  /// \param consumed if not null, gets the characters taken from `start`
  ///   on; 0 when nothing could be parsed or there is no buffer.
  /// \param base the base; 0 goes by prefix (0x hexadecimal, 0 octal).
  /// \return the number; 0 when nothing could be parsed.
  int ToLong(int start = 0, int* consumed = nullptr, int base = 10) const;
  /// Parses a signed number from a text, as the member ToLong does.
  /// \param text the text; null gives 0 with 0 consumed.
  /// \param consumed if not null, gets the characters taken.
  /// \param base the base; 0 goes by prefix.
  /// \return the number; 0 when nothing could be parsed.
  static int ToLong(char const* text, int* consumed = nullptr, int base = 10);
  /// Parses an unsigned number with strtoul rules and a 32-bit result.
  /// \param text the text; null gives 0 with 0 consumed.
  /// \param consumed if not null, gets the characters taken.
  /// \param base the base; 0 goes by prefix.
  /// \return the number; 0 when nothing could be parsed.
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

/// Conversions between numbers and short texts in caller-supplied buffers.
/// There are no errors: what cannot be parsed gives 0 and a count of 0.
class KV_OS_API cKV_DataConv {
 public:
  /// Nothing to hold: every conversion is static.
  cKV_DataConv() = default;
  /// Nothing to copy.
  cKV_DataConv(cKV_DataConv const&) = default;
  /// Does nothing.
  /// \return this object.
  cKV_DataConv& operator=(cKV_DataConv const&) { return *this; }

  /// Writes a number in base 64 over the digits "0-9A-Za-z#$", most
  /// significant first, with a leading '-' for negative values.
  /// \param value the number.
  /// \param text room for 7 characters; no NUL is written.
  /// \return the characters written, 1 to 7.
  static int LongToStr64(int value, char* text);
  /// Reads a base-64 number: an optional '-', then at most 6 digits, up to
  /// the first character that is no digit, so numbers may stand side by
  /// side separated by any non-digit.
  /// \param text the text, not null.
  /// \param value gets the number (0 when there are no digits).
  /// \return the characters consumed, the '-' included.
  static int Str64ToLong(char const* text, int& value);
  /// Writes a number with 16 significant digits, the shorter of fixed and
  /// exponential notation, NUL-terminated. Values with at most 16
  /// significant digits read back exactly; others read back as their
  /// 16-digit rounding.
  /// \param value the number.
  /// \param text room for 24 characters.
  /// \return the length of the text.
  static int DblToStr(double value, char* text);
  /// Parses a number with strtod rules.
  /// \param text the text, not null.
  /// \param value gets the number; 0 when nothing could be parsed.
  /// \return the characters consumed.
  static int StrToDbl(char const* text, double& value);
};

}  // namespace Korvane

#endif
