#include <windows.h>

#include <cstring>

#include "OS/host/error.h"
#include "OS/windows/wide.h"

namespace Korvane::host {

int LastError() noexcept { return static_cast<int>(::GetLastError()); }

int ErrorNumber(ErrorKind kind) noexcept {
  switch (kind) {
    case ErrorKind::kBadAddress:
      return ERROR_INVALID_PARAMETER;
    case ErrorKind::kBusy:
      return ERROR_SHARING_VIOLATION;
    case ErrorKind::kExists:
      return ERROR_ALREADY_EXISTS;
    case ErrorKind::kInvalidArgument:
      return ERROR_INVALID_PARAMETER;
    case ErrorKind::kNotSeekable:
      return ERROR_SEEK_ON_DEVICE;
    case ErrorKind::kNoMemory:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ErrorKind::kNoSuchProcess:
      return ERROR_INVALID_PARAMETER;  // what OpenProcess says of an id that names no process
    case ErrorKind::kTooSmall:
      return ERROR_INSUFFICIENT_BUFFER;
  }
  return ERROR_INVALID_FUNCTION;
}

void SetLastError(int code) noexcept { ::SetLastError(static_cast<DWORD>(code)); }

char const* ErrorText(int code, char* buf, std::size_t cap) noexcept {
  // System text, inserts left as they stand, in the user's default language;
  // the wide form so that the description reaches the caller as UTF-8.
  DWORD saved = ::GetLastError();
  wchar_t* text = nullptr;
  DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  char const* result = nullptr;
  if (length > 0 && text != nullptr && cap > 0) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), buf, static_cast<int>(cap - 1),
                                  nullptr, nullptr);
    if (n == 0 && length > 0) {
      // Longer than the room: keep what fits, cut on a character boundary.
      n = win::FitUtf8(text, static_cast<int>(length), buf, static_cast<int>(cap - 1));
    }
    buf[n] = '\0';
    result = buf;
  }
  if (text != nullptr) ::LocalFree(text);
  ::SetLastError(saved);
  return result;
}

}  // namespace Korvane::host
