#include "OS/windows/wide.h"

#include <windows.h>

#include <cstring>
#include <new>

#include "OS/host/fault.h"

namespace Korvane::win {

Wide::Wide(char const* text) noexcept {
  if (text == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return;
  }
  if (text[0] == '\0') {
    _small[0] = L'\0';
    _text = _small;
    return;
  }
  int need = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (need <= 0) return;  // ERROR_NO_UNICODE_TRANSLATION for invalid UTF-8
  wchar_t* target = _small;
  if (static_cast<std::size_t>(need) > sizeof _small / sizeof _small[0]) {
    if (host::Fault("alloc") != 0 || (target = new (std::nothrow) wchar_t[need]) == nullptr) {
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return;
    }
  }
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, target, need);
  _text = target;
  _length = static_cast<std::size_t>(need - 1);
}

Wide::~Wide() {
  if (_text != _small) delete[] _text;
}

WidePath::WidePath(char const* path, bool directory) noexcept : _plain(path) {
  if (!_plain.Ok()) return;
  std::size_t limit = directory ? MAX_PATH - 12 : MAX_PATH;
  wchar_t const* name = _plain.Get();
  bool prefixed = name[0] == L'\\' && name[1] == L'\\' && (name[2] == L'?' || name[2] == L'.') && name[3] == L'\\';
  if (_plain.Length() < limit || prefixed) {
    _text = name;
    return;
  }
  DWORD need = ::GetFullPathNameW(name, 0, nullptr, nullptr);
  if (need == 0) return;
  if (host::Fault("alloc") != 0 || (_long = new (std::nothrow) wchar_t[need + 8]) == nullptr) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return;
  }
  // \\server\share\x becomes \\?\UNC\server\share\x, C:\x becomes \\?\C:\x.
  wchar_t* full = _long + 8;
  DWORD got = ::GetFullPathNameW(name, need, full, nullptr);
  if (got == 0 || got >= need) return;
  wchar_t* start;
  if (full[0] == L'\\' && full[1] == L'\\') {
    // "\\?\UNC" ends where the first leading separator was.
    start = full - 6;
    std::memcpy(start, L"\\\\?\\UNC", 7 * sizeof(wchar_t));
  } else {
    start = full - 4;
    std::memcpy(start, L"\\\\?\\", 4 * sizeof(wchar_t));
  }
  _text = start;
}

WidePath::~WidePath() { delete[] _long; }

int FitUtf8(wchar_t const* text, int length, char* out, int cap) noexcept {
  int used = 0;
  for (int i = 0; i < length;) {
    int units = (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < length) ? 2 : 1;
    char one[8];
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text + i, units, one, sizeof one, nullptr, nullptr);
    if (n <= 0 || used + n > cap) break;
    std::memcpy(out + used, one, static_cast<std::size_t>(n));
    used += n;
    i += units;
  }
  return used;
}

bool ToUtf8(wchar_t const* text, char* out, std::size_t cap) noexcept {
  if (cap == 0) return false;
  if (text[0] == L'\0') {
    out[0] = '\0';
    return true;
  }
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out, static_cast<int>(cap), nullptr, nullptr);
  if (n <= 0) {
    out[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace Korvane::win
