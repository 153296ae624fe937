// UTF-8 names and texts of the API, UTF-16 at the host's wide functions.
#ifndef KV_OS_WINDOWS_WIDE_H
#define KV_OS_WINDOWS_WIDE_H

#include <cstddef>

namespace Korvane::win {

// A UTF-16 copy of a UTF-8 text, owned by the object. Invalid UTF-8 gives
// no copy (Ok() false, last error ERROR_NO_UNICODE_TRANSLATION): a name
// must never reach the host mangled.
class Wide {
 public:
  explicit Wide(char const* text) noexcept;
  ~Wide();
  Wide(Wide const&) = delete;
  Wide& operator=(Wide const&) = delete;
  bool Ok() const noexcept { return _text != nullptr; }
  wchar_t const* Get() const noexcept { return _text; }
  std::size_t Length() const noexcept { return _length; }

 private:
  wchar_t* _text = nullptr;
  std::size_t _length = 0;
  wchar_t _small[260];
};

// A UTF-8 name as the wide file functions take it. A name too long for the
// host's classic limit (MAX_PATH, or MAX_PATH - 12 for a directory to be
// made) is made absolute and given the \\?\ prefix (\\?\UNC\ for a
// network name), where the host takes names of any length; other names
// stay as they are, relative ones relative. Invalid UTF-8 gives no name.
class WidePath {
 public:
  WidePath(char const* path, bool directory = false) noexcept;
  ~WidePath();
  WidePath(WidePath const&) = delete;
  WidePath& operator=(WidePath const&) = delete;
  bool Ok() const noexcept { return _text != nullptr; }
  wchar_t const* Get() const noexcept { return _text; }

 private:
  Wide _plain;
  wchar_t* _long = nullptr;
  wchar_t const* _text = nullptr;
};

// UTF-8 of `length` UTF-16 units into `out` (room for `cap` bytes, no NUL
// written): as many whole characters as fit. Returns the bytes written.
int FitUtf8(wchar_t const* text, int length, char* out, int cap) noexcept;

// UTF-8 of a NUL-terminated UTF-16 text into `out`, NUL-terminated; false
// when it does not fit.
bool ToUtf8(wchar_t const* text, char* out, std::size_t cap) noexcept;

}  // namespace Korvane::win

#endif
