#include <windows.h>

#include <cstdio>
#include <ctime>

#include "OS/host/fault.h"
#include "OS/host/log.h"
#include "OS/windows/fault.h"
#include "OS/windows/wide.h"

namespace Korvane::host {

namespace {

HANDLE ToNative(FileHandle file) { return static_cast<HANDLE>(file); }

bool Failed(char const* point) { return win::Injected(point); }

// Appends through handles with append access alone are whole on the host's
// own file systems, but not on every implementation of the host (Wine
// places them at the end it last saw, network redirectors likewise): logs
// of this library serialise their appends to one file with a lock on a
// byte far beyond any real end, which locks no data of the file.
OVERLAPPED AppendRegion() {
  OVERLAPPED region{};
  region.Offset = 0xFFFFFFFEu;
  region.OffsetHigh = 0x7FFFFFFFu;
  return region;
}

// One write of at most what a single call takes.
bool WriteOnce(HANDLE h, char const* bytes, std::size_t size, DWORD& done) {
  DWORD want = size > 0x7FFFF000u ? 0x7FFFF000u : static_cast<DWORD>(size);
  done = 0;
  return ::WriteFile(h, bytes, want, &done, nullptr) != 0;
}

}  // namespace

FileHandle LogOpen(char const* path) noexcept {
  if (Failed("log.open")) return InvalidFile();
  win::WidePath name(path);
  if (!name.Ok()) return InvalidFile();
  // Append access and no other write access: the host puts every write at
  // the end of the file as it is then, whoever else appends. Reading is
  // asked for only because the host locks ranges for handles that may read
  // or write. Other writers, readers, and whoever renames or deletes the
  // file (rotation) may go on meanwhile. No security attributes: the handle
  // is not inherited.
  HANDLE h = ::CreateFileW(name.Get(), FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return InvalidFile();
  return static_cast<FileHandle>(h);
}

bool LogEndsMidLine(FileHandle file, char const* path) noexcept {
  DWORD saved = ::GetLastError();
  HANDLE h = ToNative(file);
  bool midLine = false;
  LARGE_INTEGER size;
  BY_HANDLE_FILE_INFORMATION mine, again;
  // The log's own handle may only append; the last byte is read through a
  // second one, if it still leads to the same file.
  if (::GetFileType(h) == FILE_TYPE_DISK && ::GetFileInformationByHandle(h, &mine) &&
      (mine.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && ::GetFileSizeEx(h, &size) && size.QuadPart > 0) {
    win::WidePath name(path);
    HANDLE reader = name.Ok() ? ::CreateFileW(name.Get(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                              : INVALID_HANDLE_VALUE;
    if (reader != INVALID_HANDLE_VALUE) {
      LARGE_INTEGER now;
      char last = '\n';
      DWORD got = 0;
      OVERLAPPED at{};
      if (::GetFileInformationByHandle(reader, &again) &&
          again.dwVolumeSerialNumber == mine.dwVolumeSerialNumber &&
          again.nFileIndexHigh == mine.nFileIndexHigh && again.nFileIndexLow == mine.nFileIndexLow &&
          ::GetFileSizeEx(reader, &now) && now.QuadPart > 0) {
        at.Offset = static_cast<DWORD>((now.QuadPart - 1) & 0xFFFFFFFF);
        at.OffsetHigh = static_cast<DWORD>((now.QuadPart - 1) >> 32);
        if (::ReadFile(reader, &last, 1, &got, &at) && got == 1) midLine = last != '\n';
      }
      ::CloseHandle(reader);
    }
  }
  ::SetLastError(saved);
  return midLine;
}

long long LogAppend(FileHandle file, void const* data, std::size_t size) noexcept {
  if (Failed("log.write")) return -1;
  HANDLE h = ToNative(file);
  auto const* bytes = static_cast<char const*>(data);
  std::size_t done = 0;
  DWORD n = 0;
  // Without the lock (a file system that has none) the append goes ahead
  // as the host places it.
  OVERLAPPED region = AppendRegion();
  bool locked = ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &region) != 0;
  std::size_t wanted = size;
  int cut = Fault("log.cut");
  // A write that the host cuts short, as a full disk does: half of the
  // bytes go, then the host refuses.
  if (cut != 0) wanted = size / 2;
  bool failed = false;
  while (done < wanted) {
    if (!WriteOnce(h, bytes + done, wanted - done, n) || n == 0) {
      failed = true;
      break;
    }
    done += n;
  }
  DWORD error = failed ? ::GetLastError() : cut != 0 ? static_cast<DWORD>(cut) : 0;
  if (locked) {
    region = AppendRegion();
    ::UnlockFileEx(h, 0, 1, 0, &region);
  }
  if (error != 0) ::SetLastError(error);
  if ((failed || cut != 0) && done == 0) return -1;
  return static_cast<long long>(done);
}

void LogClose(FileHandle file) noexcept {
  DWORD saved = ::GetLastError();
  ::CloseHandle(ToNative(file));
  ::SetLastError(saved);
}

void StreamLock(void* stream) noexcept { _lock_file(static_cast<FILE*>(stream)); }

void StreamUnlock(void* stream) noexcept { _unlock_file(static_cast<FILE*>(stream)); }

ZoneStamp CurrentZone() noexcept {
  // The C runtime reads the zone again (TZ, else the host's setting) only
  // when asked to.
  _tzset();
  ZoneStamp stamp;
  stamp.SetNames(_tzname[0], _tzname[1]);
  stamp.offset = _timezone;
  stamp.daylight = _daylight;
  return stamp;
}

}  // namespace Korvane::host
