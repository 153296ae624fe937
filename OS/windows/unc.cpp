#include <windows.h>
#include <winnetwk.h>

#include <new>

#include "OS/host/fault.h"
#include "OS/host/unc.h"
#include "OS/windows/wide.h"

namespace Korvane::host {

UncAnswer UniversalName(char const* path, char* full, std::size_t fullCap, char* universal,
                        std::size_t universalCap) noexcept {
  if (fullCap > 0) full[0] = '\0';
  if (universalCap > 0) universal[0] = '\0';
  win::Wide name(path);
  if (!name.Ok()) return UncAnswer::kNoAnswer;
  // The full path; empty when the host cannot make it.
  wchar_t small[MAX_PATH];
  wchar_t* fullWide = small;
  DWORD need = ::GetFullPathNameW(name.Get(), MAX_PATH, small, nullptr);
  if (need >= MAX_PATH) {
    fullWide = new (std::nothrow) wchar_t[need];
    if (fullWide == nullptr || ::GetFullPathNameW(name.Get(), need, fullWide, nullptr) >= need) need = 0;
  }
  if (need == 0 && fullWide != nullptr) fullWide[0] = L'\0';
  UncAnswer answer = UncAnswer::kNoAnswer;
  if (fullWide != nullptr) {
    win::ToUtf8(fullWide, full, fullCap);
    // Asked again with the size the provider names while it needs more.
    DWORD size = 1024;
    for (int attempt = 0; attempt < 4; ++attempt) {
      auto* block = static_cast<unsigned char*>(::operator new(size, std::nothrow));
      if (block == nullptr || Fault("alloc") != 0) {
        ::operator delete(block);
        break;
      }
      DWORD got = size;
      DWORD rc = ::WNetGetUniversalNameW(fullWide, UNIVERSAL_NAME_INFO_LEVEL, block, &got);
      if (rc == NO_ERROR) {
        auto* info = reinterpret_cast<UNIVERSAL_NAME_INFOW*>(block);
        answer = win::ToUtf8(info->lpUniversalName, universal, universalCap) ? UncAnswer::kFound
                                                                             : UncAnswer::kNoAnswer;
      } else if (rc == ERROR_MORE_DATA) {
        size = got + 1;
        ::operator delete(block);
        continue;
      } else {
        answer = rc == ERROR_BAD_DEVICE            ? UncAnswer::kBadDevice
                 : rc == ERROR_CONNECTION_UNAVAIL ? UncAnswer::kConnectionUnavailable
                 : rc == ERROR_NOT_SUPPORTED      ? UncAnswer::kNotSupported
                                                  : UncAnswer::kNoAnswer;
      }
      ::operator delete(block);
      break;
    }
  }
  if (fullWide != small) delete[] fullWide;
  return answer;
}

}  // namespace Korvane::host
