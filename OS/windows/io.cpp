#include <windows.h>

#include <cstring>
#include <new>

#include "OS/host/error.h"
#include "OS/host/fault.h"
#include "OS/windows/fault.h"
#include "OS/host/io.h"
#include "OS/windows/wide.h"

namespace Korvane::host {

using win::WidePath;

namespace {

HANDLE ToNative(FileHandle file) { return static_cast<HANDLE>(file); }

bool Failed(char const* point) { return win::Injected(point); }

// Seconds since 1970 from the host's 100-ns units since 1601.
constexpr long long kEpochDifference = 11644473600LL;

long long ToUnixSeconds(FILETIME const& t) {
  ULARGE_INTEGER v;
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<long long>(v.QuadPart / 10000000ULL) - kEpochDifference;
}

FILETIME FromUnixSeconds(long long seconds) {
  ULARGE_INTEGER v;
  v.QuadPart = static_cast<unsigned long long>(seconds + kEpochDifference) * 10000000ULL;
  FILETIME t;
  t.dwLowDateTime = v.LowPart;
  t.dwHighDateTime = v.HighPart;
  return t;
}

// Only files on disk have positions; seeking elsewhere (pipe, console) is
// left undefined by the host, so it is refused. An invalid handle keeps the
// host's own error.
bool Seekable(HANDLE h) {
  ::SetLastError(NO_ERROR);
  DWORD type = ::GetFileType(h);
  if (type == FILE_TYPE_DISK) return true;
  if (type != FILE_TYPE_UNKNOWN || ::GetLastError() == NO_ERROR) ::SetLastError(ERROR_SEEK_ON_DEVICE);
  return false;
}

}  // namespace

// ---- Files ----

FileHandle FileOpen(char const* path, FileAccess const& access) noexcept {
  if (Failed("io.open")) return InvalidFile();
  WidePath name(path);
  if (!name.Ok()) return InvalidFile();
  DWORD desired = (access.read ? GENERIC_READ : 0) | (access.write ? GENERIC_WRITE : 0);
  // The host's own sharing; a handle without access takes no part in it.
  DWORD share = (access.shareRead ? FILE_SHARE_READ : 0) | (access.shareWrite ? FILE_SHARE_WRITE : 0);
  if (desired == 0) share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  // CREATE_ALWAYS cuts an existing file only once the open is granted.
  DWORD disposition = access.create ? CREATE_ALWAYS : OPEN_EXISTING;
  HANDLE h = ::CreateFileW(name.Get(), desired, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // A directory is refused as one, not as a denied access.
    if (::GetLastError() == ERROR_ACCESS_DENIED) {
      DWORD attributes = ::GetFileAttributesW(name.Get());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        ::SetLastError(ERROR_DIRECTORY);
      else
        ::SetLastError(ERROR_ACCESS_DENIED);
    }
    return InvalidFile();
  }
  return static_cast<FileHandle>(h);
}

void FileClose(FileHandle file) noexcept {
  DWORD saved = ::GetLastError();
  ::CloseHandle(ToNative(file));
  ::SetLastError(saved);
}

long long FileRead(FileHandle file, void* buffer, std::size_t size) noexcept {
  if (Failed("io.read")) return -1;
  DWORD want = size > 0x7FFFF000u ? 0x7FFFF000u : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!::ReadFile(ToNative(file), buffer, want, &got, nullptr)) {
    // The writer of a pipe has gone: the end of the data.
    if (::GetLastError() == ERROR_BROKEN_PIPE || ::GetLastError() == ERROR_HANDLE_EOF) return 0;
    return -1;
  }
  return got;
}

long long FileWrite(FileHandle file, void const* data, std::size_t size) noexcept {
  if (Failed("io.write")) return -1;
  DWORD want = size > 0x7FFFF000u ? 0x7FFFF000u : static_cast<DWORD>(size);
  DWORD done = 0;
  if (!::WriteFile(ToNative(file), data, want, &done, nullptr)) return -1;
  return done;
}

bool FileSync(FileHandle file) noexcept {
  if (Failed("io.sync")) return false;
  return ::FlushFileBuffers(ToNative(file)) != 0;
}

long long FileSeek(FileHandle file, long long offset, SeekOrigin origin) noexcept {
  if (Failed("io.seek")) return -1;
  HANDLE h = ToNative(file);
  if (!Seekable(h)) return -1;
  DWORD method = origin == kSeekEnd ? FILE_END : origin == kSeekCur ? FILE_CURRENT : FILE_BEGIN;
  LARGE_INTEGER distance, position;
  distance.QuadPart = offset;
  if (!::SetFilePointerEx(h, distance, &position, method)) return -1;
  return position.QuadPart;
}

// Asked each time: one cheap question, and a handle's type never changes.
bool FileCanReadAhead(FileHandle file) noexcept { return Seekable(ToNative(file)); }

void FileForgetReadAhead(FileHandle) noexcept {}

// ---- Names ----

char PathSeparator() noexcept { return '\\'; }

PathKind GetPathKind(char const* path, bool follow) noexcept {
  if (Fault("io.stat") != 0) return kPathNone;
  WidePath name(path);
  if (!name.Ok()) return kPathNone;
  DWORD attributes = ::GetFileAttributesW(name.Get());
  if (attributes == INVALID_FILE_ATTRIBUTES) return kPathNone;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    if (!follow) return kPathLink;
    // What the link leads to: open it as the host follows it.
    HANDLE h = ::CreateFileW(name.Get(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kPathNone;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL ok = ::GetFileInformationByHandle(h, &info);
    ::CloseHandle(h);
    if (!ok) return kPathNone;
    attributes = info.dwFileAttributes;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kPathDir : kPathFile;
}

bool RemoveFile(char const* path) noexcept {
  if (Failed("io.unlink")) return false;
  WidePath name(path);
  return name.Ok() && ::DeleteFileW(name.Get()) != 0;
}

bool MakeDir(char const* path) noexcept {
  if (Failed("io.mkdir")) return false;
  WidePath name(path, true);
  return name.Ok() && ::CreateDirectoryW(name.Get(), nullptr) != 0;
}

bool RemoveDir(char const* path) noexcept {
  if (Failed("io.rmdir")) return false;
  WidePath name(path);
  return name.Ok() && ::RemoveDirectoryW(name.Get()) != 0;
}

bool GetModTime(char const* path, long long& seconds) noexcept {
  if (Failed("io.stat")) return false;
  WidePath name(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!name.Ok() || !::GetFileAttributesExW(name.Get(), GetFileExInfoStandard, &data)) return false;
  seconds = ToUnixSeconds(data.ftLastWriteTime);
  return true;
}

bool SetFileTimes(char const* path, long long seconds) noexcept {
  if (Failed("io.utime")) return false;
  WidePath name(path);
  if (!name.Ok()) return false;
  HANDLE h = ::CreateFileW(name.Get(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME t = FromUnixSeconds(seconds);
  BOOL ok = ::SetFileTime(h, nullptr, &t, &t);
  DWORD error = ::GetLastError();
  ::CloseHandle(h);
  ::SetLastError(error);
  return ok != 0;
}

bool CurrentDir(char* buffer, std::size_t cap) noexcept {
  if (Failed("io.getcwd")) return false;
  wchar_t wide[32768];
  DWORD n = ::GetCurrentDirectoryW(sizeof wide / sizeof wide[0], wide);
  if (n == 0 || n >= sizeof wide / sizeof wide[0]) return false;
  if (!win::ToUtf8(wide, buffer, cap)) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  return true;
}

FileHandle OpenHostFile(char const* path) noexcept {
  if (Failed("io.hostfile")) return InvalidFile();
  char mapped[1024];
  char const* real = MapHostPath(path, mapped, sizeof mapped);
  if (real == nullptr) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return InvalidFile();
  }
  WidePath name(real);
  if (!name.Ok()) return InvalidFile();
  HANDLE h = ::CreateFileW(name.Get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? InvalidFile() : static_cast<FileHandle>(h);
}

// ---- Directory enumeration ----

namespace {

struct DirSearch {
  HANDLE find;
  bool pending;  // `data` holds an entry not yet handed out
  WIN32_FIND_DATAW data;
  char name[MAX_PATH * 3 + 1];
};

}  // namespace

void* DirOpen(char const* path) noexcept {
  if (Failed("io.opendir")) return nullptr;
  // Every entry of the directory: its name with "\*" behind it.
  std::size_t length = path != nullptr ? std::strlen(path) : 0;
  char* pattern = new (std::nothrow) char[length + 3];
  if (pattern == nullptr) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  std::memcpy(pattern, path != nullptr ? path : "", length);
  std::size_t at = length;
  if (at > 0 && pattern[at - 1] != '\\' && pattern[at - 1] != '/') pattern[at++] = '\\';
  pattern[at++] = '*';
  pattern[at] = '\0';
  WidePath name(pattern);
  delete[] pattern;
  if (!name.Ok()) return nullptr;
  auto* search = new (std::nothrow) DirSearch;
  if (search == nullptr) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  search->find = ::FindFirstFileExW(name.Get(), FindExInfoBasic, &search->data, FindExSearchNameMatch, nullptr, 0);
  if (search->find == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    delete search;
    // An empty directory still has "." and ".."; only a drive root has
    // nothing at all, and that is an empty listing, not an error.
    if (error == ERROR_FILE_NOT_FOUND) {
      ::SetLastError(ERROR_PATH_NOT_FOUND);
    }
    return nullptr;
  }
  search->pending = true;
  return search;
}

int DirRead(void* dir, char const*& name, PathKind& kind) noexcept {
  if (Failed("io.readdir")) return -1;
  auto* search = static_cast<DirSearch*>(dir);
  if (!search->pending) {
    if (!::FindNextFileW(search->find, &search->data)) return ::GetLastError() == ERROR_NO_MORE_FILES ? 0 : -1;
  }
  search->pending = false;
  if (!win::ToUtf8(search->data.cFileName, search->name, sizeof search->name)) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return -1;
  }
  name = search->name;
  DWORD attributes = search->data.dwFileAttributes;
  kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? kPathLink
         : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0  ? kPathDir
                                                         : kPathFile;
  return 1;
}

void DirClose(void* dir) noexcept {
  if (dir == nullptr) return;
  auto* search = static_cast<DirSearch*>(dir);
  ::FindClose(search->find);
  delete search;
}

// ---- Console ----
//
// On a console: key events without line editing; on a pipe: what has
// arrived; on a file: its bytes.

static_assert(sizeof(DWORD) <= sizeof(ConsoleState::saved), "the console mode does not fit");

void ConsoleBegin(ConsoleState& state) noexcept {
  HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  state.terminal = in != nullptr && in != INVALID_HANDLE_VALUE && ::GetConsoleMode(in, &mode) != 0;
  state.changed = false;
  if (!state.terminal) return;
  std::memcpy(state.saved, &mode, sizeof mode);
  DWORD keys = mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
  state.changed = ::SetConsoleMode(in, keys) != 0;
}

void ConsoleEnd(ConsoleState& state) noexcept {
  if (!state.changed) return;
  DWORD mode;
  std::memcpy(&mode, state.saved, sizeof mode);
  ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), mode);
  state.changed = false;
}

int ConsoleTryRead(ConsoleState& state, char& key) noexcept {
  if (Failed("io.console")) return -1;
  HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  if (state.terminal) {
    if (!state.changed) return 0;
    for (;;) {
      DWORD waiting = 0;
      if (!::GetNumberOfConsoleInputEvents(in, &waiting)) return -1;
      if (waiting == 0) return 0;
      INPUT_RECORD record;
      DWORD got = 0;
      if (!::ReadConsoleInputW(in, &record, 1, &got) || got == 0) return -1;
      if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
      wchar_t c = record.Event.KeyEvent.uChar.UnicodeChar;
      if (c == 0) continue;  // a key without a character (shift, arrows)
      key = c < 0x80 ? static_cast<char>(c) : '?';
      return 1;
    }
  }
  DWORD type = ::GetFileType(in);
  if (type == FILE_TYPE_PIPE) {
    DWORD available = 0;
    if (!::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr))
      return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    if (available == 0) return 0;
  }
  DWORD got = 0;
  if (!::ReadFile(in, &key, 1, &got, nullptr)) return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  return got == 1 ? 1 : 0;
}

}  // namespace Korvane::host
