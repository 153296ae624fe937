#include "OS/osstring.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "OS/host/locale.h"
#include "OS/host/memory.h"
#include "OS/internal/numparse.h"

namespace Korvane {

namespace {

constinit char const kEmptyText[1] = {'\0'};

char FoldLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(char const* a, char const* b, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (FoldLower(a[i]) != FoldLower(b[i])) return false;
  return true;
}

// A new block holding `text` of `length` bytes and a NUL, or null.
char* CopyBlock(char const* text, std::size_t length) {
  char* block = host::NewChars(length + 1);
  if (block != nullptr) {
    std::memcpy(block, text, length);
    block[length] = '\0';
  }
  return block;
}

}  // namespace

cKV_String::cKV_String() : _buffer(nullptr) {}

cKV_String::cKV_String(char const* text) : _buffer(nullptr) { Assign(text); }

cKV_String::cKV_String(cKV_String const& other) : _buffer(nullptr) { Assign(other._buffer); }

cKV_String::~cKV_String() { host::DeleteChars(_buffer); }

// Replaces the text by a copy of `text`; null or empty leaves no buffer. The
// old block goes only after the copy, so `text` may point into it.
bool cKV_String::Assign(char const* text) {
  char* block = nullptr;
  if (text != nullptr && text[0] != '\0') {
    block = CopyBlock(text, std::strlen(text));
    if (block == nullptr) return false;
  }
  host::DeleteChars(_buffer);
  _buffer = block;
  return true;
}

cKV_String& cKV_String::operator=(char const* text) {
  if (text != _buffer) Assign(text);
  return *this;
}

cKV_String& cKV_String::operator=(cKV_String const& other) {
  if (this != &other) Assign(other._buffer);
  return *this;
}

cKV_String::operator char const*() const { return _buffer != nullptr ? _buffer : kEmptyText; }

unsigned int cKV_String::Length() const {
  return _buffer != nullptr ? static_cast<unsigned int>(std::strlen(_buffer)) : 0;
}

char& cKV_String::operator[](int index) { return _buffer[index]; }

char* cKV_String::GetBuffer(unsigned int size) {
  if (size == 0) return _buffer;
  std::size_t length = _buffer != nullptr ? std::strlen(_buffer) : 0;
  if (size <= length) return _buffer;
  char* block = host::NewChars(static_cast<std::size_t>(size) + 1);
  if (block == nullptr) return _buffer;
  if (_buffer != nullptr)
    std::memcpy(block, _buffer, length + 1);
  else
    block[0] = '\0';
  block[size] = '\0';
  host::DeleteChars(_buffer);
  _buffer = block;
  return block;
}

char* cKV_String::DeattachBuffer() {
  char* block = _buffer;
  _buffer = nullptr;
  return block;
}

cKV_String& cKV_String::operator+=(char const* text) {
  if (text == nullptr) return *this;
  std::size_t oldLength = _buffer != nullptr ? std::strlen(_buffer) : 0;
  std::size_t addLength = std::strlen(text);
  if (oldLength + addLength < 1) return *this;
  char* block = host::NewChars(oldLength + addLength + 1);
  if (block == nullptr) return *this;
  if (oldLength > 0) std::memcpy(block, _buffer, oldLength);
  std::memcpy(block + oldLength, text, addLength + 1);
  host::DeleteChars(_buffer);
  _buffer = block;
  return *this;
}

cKV_String& cKV_String::operator+=(cKV_String const& other) { return *this += other._buffer; }

cKV_String cKV_String::operator+(char const* text) const {
  cKV_String result(*this);
  result += text;
  return result;
}

cKV_String cKV_String::operator+(cKV_String const& other) const { return *this + other._buffer; }

int cKV_String::Format(char const* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  int produced = FormatV(format, arguments);
  va_end(arguments);
  return produced;
}

namespace {

int FormatInto(char* block, std::size_t limit, char const* format, va_list arguments) {
  va_list attempt;
  va_copy(attempt, arguments);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int produced = std::vsnprintf(block, limit, format, attempt);
#pragma GCC diagnostic pop
  va_end(attempt);
  return produced;
}

}  // namespace

// The block is sized as the guess-and-double scheme sizes it: 120 % of the
// format's size, doubled until the result fits strictly below the limit (a
// result of exactly the limit does not fit). The C formatter reports the
// size it needed, so the doubling is computed rather than tried, and a
// result that fits a stack buffer is formatted only once; the text and the
// block are those of the step-by-step scheme. The new block replaces the old
// one only on success, so a failure leaves the string unchanged and the
// arguments may point into the old text.
int cKV_String::FormatV(char const* format, va_list arguments) {
  if (format == nullptr) format = kEmptyText;
  char local[512];
  int produced = FormatInto(local, sizeof local, format, arguments);
  if (produced < 0) return 0;
  std::uint64_t limit = ((std::strlen(format) + 1) * 120) / 100;
  while (limit <= static_cast<std::uint64_t>(produced)) limit *= 2;
  if (limit > static_cast<std::uint64_t>(INT32_MAX)) return 0;
  char* block = host::NewChars(static_cast<std::size_t>(limit) + 2);
  if (block == nullptr) return 0;
  if (static_cast<std::size_t>(produced) < sizeof local) {
    std::memcpy(block, local, static_cast<std::size_t>(produced) + 1);
  } else if (FormatInto(block, static_cast<std::size_t>(limit), format, arguments) != produced) {
    host::DeleteChars(block);  // the arguments changed under us
    return 0;
  }
  host::DeleteChars(_buffer);
  _buffer = block;
  return produced;
}

void cKV_String::MakeLower() {
  if (_buffer == nullptr) return;
  for (char* p = _buffer; *p != '\0'; ++p)
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
}

void cKV_String::MakeUpper() {
  if (_buffer == nullptr) return;
  for (char* p = _buffer; *p != '\0'; ++p)
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
}

bool cKV_String::operator==(char const* text) const {
  if (text == nullptr) return _buffer == nullptr;
  if (_buffer == nullptr) return text[0] == '\0';
  return std::strcmp(_buffer, text) == 0;
}

bool cKV_String::operator==(cKV_String const& other) const { return *this == static_cast<char const*>(other); }

bool cKV_String::Cmp(char const* text) const {
  if (_buffer == nullptr || text == nullptr) return false;
  return std::strcmp(_buffer, text) == 0;
}

bool cKV_String::CmpNoCase(char const* text) const {
  if (_buffer == nullptr || text == nullptr) return false;
  return CmpNoCase(_buffer, text);
}

bool cKV_String::CmpNoCase(char const* a, char const* b) {
  if (a == nullptr) a = kEmptyText;
  if (b == nullptr) b = kEmptyText;
  std::size_t length = std::strlen(a);
  if (length != std::strlen(b)) return false;
  return EqualNoCase(a, b, length);
}

bool cKV_String::CmpPrefixNoCase(char const* text, int count) const {
  if (_buffer == nullptr || text == nullptr) return false;
  std::size_t ownLength = std::strlen(_buffer);
  if (count == 0) {
    count = static_cast<int>(ownLength);
  } else if (count > 0 && ownLength < static_cast<std::size_t>(count)) {
    return false;
  }
  if (count > 0 && std::strlen(text) < static_cast<std::size_t>(count)) return false;
  if (count < 1) return true;
  return EqualNoCase(_buffer, text, static_cast<std::size_t>(count));
}

bool cKV_String::CmpSub(char const* text, int count) {
  if (_buffer == nullptr || text == nullptr) return false;
  std::size_t bound = count == 0 ? std::strlen(text) : static_cast<std::size_t>(static_cast<unsigned int>(count));
  if (count < 0) bound = SIZE_MAX;
  return std::strncmp(_buffer, text, bound) == 0;
}

int cKV_String::Compare(char const* a, char const* b) {
  int r = std::strcmp(a, b);  // compares as unsigned char
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// A start outside the text (before it, or past its NUL) finds no number
// rather than reading outside the block; the end itself is an empty text.
// Only the bytes before `start` are looked at, so a far start costs no more.
int cKV_String::ToLong(int start, int* consumed, int base) const {
  bool inside = _buffer != nullptr && start >= 0;
  for (int i = 0; inside && i < start; ++i) inside = _buffer[i] != '\0';
  if (!inside) {
    if (consumed != nullptr) *consumed = 0;
    return 0;
  }
  return ToLong(_buffer + start, consumed, base);
}

int cKV_String::ToLong(char const* text, int* consumed, int base) {
  std::size_t taken = 0;
  unsigned int value = internal::ParseInt32(text, base, true, &taken);
  if (consumed != nullptr) *consumed = static_cast<int>(taken);
  return static_cast<int>(value);
}

unsigned int cKV_String::ToUlong(char const* text, int* consumed, int base) {
  std::size_t taken = 0;
  unsigned int value = internal::ParseInt32(text, base, false, &taken);
  if (consumed != nullptr) *consumed = static_cast<int>(taken);
  return value;
}

// ---- cKV_DataConv ----

namespace {

constexpr char kDigits64[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz#$";

struct Digit64Table {
  signed char value[128];
  constexpr Digit64Table() : value() {
    for (auto& v : value) v = -1;
    for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kDigits64[i])] = static_cast<signed char>(i);
  }
};
constexpr Digit64Table kDigit64Values;

int Digit64(char c) {
  auto u = static_cast<unsigned char>(c);
  return u < 128 ? kDigit64Values.value[u] : -1;
}

}  // namespace

int cKV_DataConv::LongToStr64(int value, char* text) {
  int n = 0;
  unsigned int magnitude = static_cast<unsigned int>(value);
  if (value < 0) {
    text[n++] = '-';
    magnitude = 0u - magnitude;
  }
  int digits = 1;
  if (magnitude & 0xC0000000u)
    digits = 6;
  else if (magnitude & 0x3F000000u)
    digits = 5;
  else if (magnitude & 0x00FC0000u)
    digits = 4;
  else if (magnitude & 0x0003F000u)
    digits = 3;
  else if (magnitude & 0x00000FC0u)
    digits = 2;
  for (int i = digits - 1; i >= 0; --i) text[n++] = kDigits64[(magnitude >> (6 * i)) & 63u];
  return n;
}

int cKV_DataConv::Str64ToLong(char const* text, int& value) {
  int n = 0;
  bool negative = text[0] == '-';
  if (negative) ++text;
  unsigned int result = 0;
  for (int d; n < 6 && (d = Digit64(text[n])) >= 0; ++n) result = (result << 6) | static_cast<unsigned int>(d);
  value = static_cast<int>(negative ? 0u - result : result);
  return n + (negative ? 1 : 0);
}

int cKV_DataConv::DblToStr(double value, char* text) {
  // to_chars is locale-independent and formats as "%.16g" does in "C".
  char local[32];
  auto result = std::to_chars(local, local + sizeof local - 1, value, std::chars_format::general, 16);
  std::size_t length = static_cast<std::size_t>(result.ptr - local);
  std::memcpy(text, local, length);
  text[length] = '\0';
  return static_cast<int>(length);
}

int cKV_DataConv::StrToDbl(char const* text, double& value) {
  char* end = nullptr;
  double parsed = host::StrToDoubleC(text, &end);
  int consumed = static_cast<int>(end - text);
  value = consumed > 0 ? parsed : 0.0;
  return consumed;
}

}  // namespace Korvane
