// The Windows body of cfg_file.h.
//
// Locking: an edit holds an exclusive lock on a byte far beyond the end of
// the file it read (no data of the file is locked, so other programs read
// and write as before) until the new copy has replaced the file, and checks
// after locking that the name still leads to the locked file. A new file is
// put in place only if the name is still free.
//
// Copies: a new copy has a hidden name beside the file and is held open
// without any sharing while it is written, so no other program can open,
// change or delete it meanwhile; one that nobody holds belongs to an edit
// that died, and a later edit removes it (the host refuses to delete one
// that is held). The copy replaces the file through ReplaceFileW, which
// gives it the file's access control list, attributes and creation time;
// the file is kept under a second hidden name until the copy is in place,
// and put back should the host fail halfway.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "cfg_file.h"
#include "say_if_long.h"

namespace kvos::cfg {
namespace {

constexpr int kMaxTries = 100;
constexpr std::size_t kNameMax = 255;
constexpr char kCopyTag[] = ".kvos-";
constexpr std::size_t kRandom = 6, kCheck = 4;
constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kWritePiece = std::size_t{1} << 20;

std::wstring Wide(std::string const& text) {
  if (text.empty()) return {};
  int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Utf8(wchar_t const* text) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

std::string Error(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out;
  if (n > 0 && text != nullptr) {
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    out.assign(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), size, nullptr, nullptr);
  }
  if (text != nullptr) ::LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
    out.pop_back();
  if (out.empty()) out = "error " + std::to_string(code);
  return out + " (" + std::to_string(code) + ")";
}

std::string LastError() { return Error(::GetLastError()); }

// The names that reach a device whatever directory they stand in.
bool IsDeviceName(std::string const& path) {
  if (path.compare(0, 4, "\\\\.\\") == 0 || path.compare(0, 4, "//./") == 0) return true;
  // "CON:" is the console as well.
  std::string name = path;
  while (!name.empty() && name.back() == ':') name.pop_back();
  std::size_t slash = name.find_last_of("\\/:");
  std::string base = name.substr(slash == std::string::npos ? 0 : slash + 1);
  // The host drops an extension and trailing blanks and dots: "nul.txt"
  // and "CON " are the devices too.
  base = base.substr(0, base.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$")
    return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

// Whether `path` names a stream of a file ("app.ini:extra"): a ':' other
// than the drive's. A copy cannot be put beside a stream, and one named
// from it would be a stream of yet another file.
bool NamesStream(std::string const& path) {
  std::size_t at = 0;
  if (path.compare(0, 4, "\\\\?\\") == 0 || path.compare(0, 4, "//?/") == 0) at = 4;
  char const c = at < path.size() ? path[at] : '\0';
  if (path.size() >= at + 2 && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[at + 1] == ':') at += 2;
  return path.find(':', at) != std::string::npos;
}

struct PathParts {
  std::string dir, base;
};

PathParts Split(std::string const& path) {
  std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) {
    // "C:name" is relative to the drive's current directory.
    if (path.size() > 2 && path[1] == ':') return {path.substr(0, 2), path.substr(2)};
    return {std::string(), path};
  }
  // The root keeps its separator: "C:\" and "\".
  bool root = slash == 0 || (slash == 2 && path[1] == ':');
  return {path.substr(0, root ? slash + 1 : slash), path.substr(slash + 1)};
}

std::string Join(std::string const& dir, std::string const& name) {
  if (dir.empty()) return name;
  char last = dir.back();
  return last == '\\' || last == '/' || last == ':' ? dir + name : dir + "\\" + name;
}

std::string CopyPrefix(std::string const& base) {
  std::size_t room = kNameMax - 1 - (sizeof kCopyTag - 1) - kRandom - kCheck;
  std::string prefix(".");
  prefix.append(base, 0, room);
  prefix.append(kCopyTag);
  return prefix;
}

std::string CheckOf(char const* head, std::size_t length) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (std::size_t i = 0; i < length; ++i) hash = (hash ^ static_cast<unsigned char>(head[i])) * 1099511628211ull;
  std::string check;
  for (std::size_t i = 0; i < kCheck; ++i, hash /= sizeof kChars - 1) check += kChars[hash % (sizeof kChars - 1)];
  return check;
}

bool IsCopyOf(std::string const& name, std::string const& prefix) {
  std::size_t const head = prefix.size() + kRandom;
  return name.size() == head + kCheck && name.compare(0, prefix.size(), prefix) == 0 &&
         name.compare(head, kCheck, CheckOf(name.data(), head)) == 0;
}

// Removes the copies of `base` that no live edit holds: the host refuses to
// delete one that is open without delete sharing.
void RemoveAbandoned(std::string const& dir, std::string const& base) {
  std::string const prefix = CopyPrefix(base);
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileExW(Wide(Join(dir, prefix + "*")).c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, 0);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    char name[4 * MAX_PATH];
    if (::WideCharToMultiByte(CP_UTF8, 0, entry.cFileName, -1, name, sizeof name, nullptr, nullptr) == 0) continue;
    if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) continue;
    if (IsCopyOf(name, prefix)) ::DeleteFileW(Wide(Join(dir, name)).c_str());
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
}

// Whether the copy at `path` no longer exists.
bool CopyGone(std::string const& path) {
  return ::GetFileAttributesW(Wide(path).c_str()) == INVALID_FILE_ATTRIBUTES &&
         (::GetLastError() == ERROR_FILE_NOT_FOUND || ::GetLastError() == ERROR_PATH_NOT_FOUND);
}

// The lock of an edit: one byte far beyond any real end of the file.
OVERLAPPED EditRegion() {
  OVERLAPPED region{};
  region.Offset = 0xFFFFFFFDu;
  region.OffsetHigh = 0x7FFFFFFFu;
  return region;
}

bool SameFile(BY_HANDLE_FILE_INFORMATION const& a, BY_HANDLE_FILE_INFORMATION const& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool Unchanged(BY_HANDLE_FILE_INFORMATION const& a, BY_HANDLE_FILE_INFORMATION const& b) {
  return SameFile(a, b) && a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
         a.ftLastWriteTime.dwLowDateTime == b.ftLastWriteTime.dwLowDateTime &&
         a.ftLastWriteTime.dwHighDateTime == b.ftLastWriteTime.dwHighDateTime;
}

// The file that `path` names now, or false; through links with `follow`,
// else the link itself.
bool Identify(std::string const& path, BY_HANDLE_FILE_INFORMATION& info, bool follow = false) {
  HANDLE h = ::CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT) | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = ::GetFileInformationByHandle(h, &info) != 0;
  ::CloseHandle(h);
  return ok;
}

// The path of the file that `h` holds, through every link, or empty.
std::string FinalPath(HANDLE h) {
  std::wstring buffer(MAX_PATH, L'\0');
  DWORD n = ::GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n >= buffer.size()) {
    buffer.assign(n + 1, L'\0');
    n = ::GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n >= buffer.size()) return {};
  }
  if (n == 0) return {};
  buffer.resize(n);
  std::string path = Utf8(buffer.c_str());
  // The long-path prefix stays only where the path needs it, with room for
  // the copy's longer name.
  if (path.size() < MAX_PATH - 24 + 4) {
    if (path.compare(0, 8, "\\\\?\\UNC\\") == 0)
      path = "\\" + path.substr(7);
    else if (path.compare(0, 4, "\\\\?\\") == 0 && path.size() > 5 && path[5] == ':')
      path = path.substr(4);
  }
  return path;
}

// Reads all of `h` from where it stands; 0 or the host's error number.
DWORD ReadAll(HANDLE h, std::string& bytes) {
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(h, buffer, sizeof buffer, &got, nullptr)) {
      DWORD error = ::GetLastError();
      return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? 0 : error;
    }
    if (got == 0) return 0;
    if (bytes.size() + got > kMaxInput) return ERROR_FILE_TOO_LARGE;
    bytes.append(buffer, got);
  }
}

std::string ReadFailure(DWORD error) {
  if (error == ERROR_FILE_TOO_LARGE)
    return "it is larger than " + std::to_string(kMaxInput >> 20) + " MiB, too large for a configuration file";
  return Error(error);
}

// While an edit has a copy, Ctrl-C, Ctrl-Break and the console's closing
// are held back: one that came is taken as "cancel" up to the replacement.
std::atomic<int> g_interrupts{0};

BOOL WINAPI HoldInterrupt(DWORD kind) {
  if (kind == CTRL_C_EVENT || kind == CTRL_BREAK_EVENT || kind == CTRL_CLOSE_EVENT) {
    g_interrupts.fetch_add(1);
    return TRUE;
  }
  return FALSE;
}

class InterruptsHeld {
 public:
  InterruptsHeld() : _before(g_interrupts.load()) { _installed = ::SetConsoleCtrlHandler(HoldInterrupt, TRUE) != 0; }
  ~InterruptsHeld() {
    if (_installed) ::SetConsoleCtrlHandler(HoldInterrupt, FALSE);
  }
  InterruptsHeld(InterruptsHeld const&) = delete;
  InterruptsHeld& operator=(InterruptsHeld const&) = delete;
  bool Came() const { return g_interrupts.load() != _before; }

 private:
  int _before;
  bool _installed = false;
};


}  // namespace

std::string CopyName(std::string const& base, std::string const& random) {
  std::string name = CopyPrefix(base) + random;
  return name + CheckOf(name.data(), name.size());
}

bool ReadInput(std::string const& path, std::string& bytes, std::string& why) {
  // The name that scripts use elsewhere for standard input, a pipe as well.
  if (path == "/dev/stdin") {
    DWORD error = ReadAll(::GetStdHandle(STD_INPUT_HANDLE), bytes);
    if (error != 0) why = ReadFailure(error);
    return error == 0;
  }
  DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = "Is a directory";  // as the C library says it
    return false;
  }
  HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    why = LastError();
    return false;
  }
  DWORD error = ReadAll(h, bytes);
  ::CloseHandle(h);
  if (error != 0) why = ReadFailure(error);
  return error == 0;
}

struct FileEdit::State {
  HANDLE file = INVALID_HANDLE_VALUE;  // locked; invalid for a new file
  std::string dir, base;
  bool exists = false;
  bool waited = false;
  std::function<void()> waiting;
  BY_HANDLE_FILE_INFORMATION seen{};
  std::string bytes;
  std::mt19937 rng{std::random_device{}()};

  ~State() { Close(); }
  void Close() {
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
  std::string Path() const { return Join(dir, base); }
  std::string NewCopyName() {
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kChars) - 2);
    std::string random;
    for (std::size_t i = 0; i < kRandom; ++i) random += kChars[pick(rng)];
    return cfg::CopyName(base, random);
  }
  Status OpenOnce(std::string const& path, bool mayCreate, std::string& why);
};

FileEdit::FileEdit(bool) : _s(std::make_unique<State>()) {}
FileEdit::~FileEdit() = default;
bool FileEdit::Exists() const { return _s->exists; }
std::string const& FileEdit::Bytes() const { return _s->bytes; }

Status FileEdit::Open(std::string const& path, bool mayCreate, std::string& why, std::function<void()> waiting) {
  _s->waiting = std::move(waiting);
  if (IsDeviceName(path)) {
    why = "it is a device; kvos cfg edits only regular files";
    return Status::kFailed;
  }
  if (NamesStream(path)) {
    why = "a ':' after the drive names a stream of a file; kvos cfg edits only whole files";
    return Status::kFailed;
  }
  for (int tries = 0; tries < kMaxTries; tries += _s->waited ? 0 : 1) {
    _s->Close();
    _s->bytes.clear();
    _s->waited = false;
    Status status = _s->OpenOnce(path, mayCreate, why);
    if (status != Status::kAgain) return status;
  }
  why = "it kept changing while kvos cfg tried to read it";
  return Status::kFailed;
}

Status FileEdit::State::OpenOnce(std::string const& path, bool mayCreate, std::string& why) {
  PathParts parts = Split(path);
  dir = parts.dir;
  base = parts.base;
  if (base.empty() || base == "." || base == "..") {
    why = "it names no file";
    return Status::kFailed;
  }
  std::wstring name = Wide(path);
  DWORD attributes = ::GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND || !mayCreate) {
      why = Error(error);
      return Status::kFailed;
    }
    DWORD dirAttributes = ::GetFileAttributesW(Wide(dir.empty() ? "." : dir).c_str());
    if (dirAttributes == INVALID_FILE_ATTRIBUTES || (dirAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      why = dirAttributes == INVALID_FILE_ATTRIBUTES ? LastError() : Error(ERROR_DIRECTORY);
      return Status::kFailed;
    }
    // No copies are removed here: without the file's lock, a closed copy of
    // a live edit, about to take the file's place, looks abandoned too.
    exists = false;
    return Status::kOk;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = "it is a directory; kvos cfg edits only regular files";
    return Status::kFailed;
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    why = "it is read-only (its read-only attribute is set)";
    return Status::kFailed;
  }
  // Others may go on reading and writing it; deleting is shared so that the
  // replacement can take its name while this handle holds the lock.
  file = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return Status::kAgain;
    why = error == ERROR_ACCESS_DENIED     ? "you may not write it (" + Error(error) + ")"
          : error == ERROR_SHARING_VIOLATION ? "another program holds it open and lets nobody write it (" +
                                                   Error(error) + ")"
                                             : Error(error);
    return Status::kFailed;
  }
  BY_HANDLE_FILE_INFORMATION opened;
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    why = "it is a device; kvos cfg edits only regular files";
    return Status::kFailed;
  }
  if (!::GetFileInformationByHandle(file, &opened)) {
    why = LastError();
    return Status::kFailed;
  }
  if (opened.nNumberOfLinks > 1) {
    why = "it has " + std::to_string(opened.nNumberOfLinks) +
          " hard links, and replacing it would part it from the other names";
    return Status::kFailed;
  }
  OVERLAPPED region = EditRegion();
  BOOL locked = ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region);
  if (!locked && ::GetLastError() == ERROR_LOCK_VIOLATION) {
    waited = true;
    SayIfLong note(waiting);
    region = EditRegion();
    locked = ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &region);
    if (note.Said()) waiting = nullptr;  // once is enough
  }
  if (!locked) {
    why = "it cannot be locked against other edits (" + LastError() + ")";
    return Status::kFailed;
  }
  // An edit that finished while this one waited has replaced the file.
  BY_HANDLE_FILE_INFORMATION named, before;
  if (!Identify(path, named, true) || !SameFile(named, opened)) return Status::kAgain;
  if (!::GetFileInformationByHandle(file, &before) || before.nNumberOfLinks != 1) return Status::kAgain;
  // A name reached through a symbolic link or a linked directory: the file
  // is replaced where it is, and the links stay.
  if (std::string real = FinalPath(file); !real.empty()) {
    PathParts parts = Split(real);
    BY_HANDLE_FILE_INFORMATION there;
    if (parts.base.empty() || !Identify(real, there) || !SameFile(there, opened)) {
      why = "the path the host gives for it (" + real + ") does not lead to it";
      return Status::kFailed;
    }
    dir = parts.dir;
    base = parts.base;
  }
  // The replacement takes the name as it is spelt: a name in other case, a
  // short 8.3 name or one with trailing dots would rename the file. It is
  // replaced under the name that its directory lists.
  if (base.find_first_of("*?") == std::string::npos) {
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileExW(Wide(Path()).c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (find != INVALID_HANDLE_VALUE) {
      ::FindClose(find);
      std::string listed = Utf8(entry.cFileName);
      BY_HANDLE_FILE_INFORMATION again;
      if (listed.empty() || !Identify(Join(dir, listed), again) || !SameFile(again, opened)) {
        why = "the name its directory lists for it does not lead back to it, so it cannot be replaced under "
              "its own name";
        return Status::kFailed;
      }
      base = listed;
    }
  }
  if (DWORD error = ReadAll(file, bytes)) {
    why = ReadFailure(error);
    return Status::kFailed;
  }
  if (!::GetFileInformationByHandle(file, &seen) || !Unchanged(before, seen)) return Status::kAgain;
  exists = true;
  RemoveAbandoned(dir, base);
  return Status::kOk;
}

Status FileEdit::Replace(std::string const& bytes, std::string& why) {
  State& s = *_s;
  InterruptsHeld held;
  std::string const target = s.Path();
  std::string copyName, copyPath;
  HANDLE copy = INVALID_HANDLE_VALUE;
  // Held without sharing: nobody opens, changes or deletes it meanwhile.
  for (int tries = 0; tries < kMaxTries && copy == INVALID_HANDLE_VALUE; ++tries) {
    copyName = s.NewCopyName();
    copyPath = Join(s.dir, copyName);
    copy = ::CreateFileW(Wide(copyPath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (copy == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS &&
        ::GetLastError() != ERROR_ALREADY_EXISTS) {
      why = (s.exists ? "cannot make a new copy beside it: " : "cannot create it: ") + LastError();
      if (s.exists) why += "; the file is unchanged";
      return Status::kFailed;
    }
  }
  if (copy == INVALID_HANDLE_VALUE) {
    why = s.exists ? "cannot make a new copy beside it; the file is unchanged" : "cannot create it";
    return Status::kFailed;
  }
  auto fail = [&](std::string const& reason, bool unchanged = true) {
    if (copy != INVALID_HANDLE_VALUE) ::CloseHandle(copy);
    ::DeleteFileW(Wide(copyPath).c_str());
    why = reason + (s.exists && unchanged ? "; the file is unchanged" : "");
    return Status::kFailed;
  };

  char const* const kInterrupted = "interrupted";
  for (std::size_t done = 0; done < bytes.size();) {
    if (held.Came()) return fail(kInterrupted);
    std::size_t piece = bytes.size() - done < kWritePiece ? bytes.size() - done : kWritePiece;
    DWORD n = 0;
    if (!::WriteFile(copy, bytes.data() + done, static_cast<DWORD>(piece), &n, nullptr)) return fail(LastError());
    if (n == 0) return fail(Error(ERROR_DISK_FULL));
    done += n;
  }
  if (!::FlushFileBuffers(copy)) return fail(LastError());
  if (held.Came()) return fail(kInterrupted);
  ::CloseHandle(copy);
  copy = INVALID_HANDLE_VALUE;

  if (!s.exists) {
    // No replacing: a file that another program created meanwhile stays.
    if (::MoveFileExW(Wide(copyPath).c_str(), Wide(target).c_str(), MOVEFILE_WRITE_THROUGH)) return Status::kOk;
    DWORD error = ::GetLastError();
    // A locked edit of the file that appeared meanwhile took the copy for an
    // abandoned one: the edit is made again on the file as it is now.
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS || CopyGone(copyPath)) {
      fail("");
      why.clear();
      return Status::kAgain;
    }
    return fail(Error(error));
  }

  // The attributes that ReplaceFileW carries over where the host does all
  // it promises; given here as well, so that no host loses them.
  DWORD const kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if ((s.seen.dwFileAttributes & kept) != 0 &&
      !::SetFileAttributesW(Wide(copyPath).c_str(), s.seen.dwFileAttributes & kept))
    return fail("cannot give the new copy the file's attributes: " + LastError());
  BY_HANDLE_FILE_INFORMATION now, named;
  if (!::GetFileInformationByHandle(s.file, &now) || !Unchanged(now, s.seen) || !Identify(target, named) ||
      !SameFile(named, s.seen))
    return fail("it changed while it was being edited, so it is left as the other program wrote it", false);
  // The file waits under a name of its own until the copy is in place, so
  // that a failure halfway can put it back.
  std::string const keptPath = Join(s.dir, s.NewCopyName());
  if (::ReplaceFileW(Wide(target).c_str(), Wide(copyPath).c_str(), Wide(keptPath).c_str(),
                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
    s.Close();
    ::DeleteFileW(Wide(keptPath).c_str());
    return Status::kOk;
  }
  DWORD error = ::GetLastError();
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    // The file went to the kept name, the copy stayed where it was.
    if (!::MoveFileExW(Wide(keptPath).c_str(), Wide(target).c_str(), MOVEFILE_WRITE_THROUGH))
      return fail("the host failed halfway (" + Error(error) + "); the file is kept as " + keptPath, false);
  }
  // Another program removed the copy: the file is back as it was, and the
  // edit is made again.
  if (CopyGone(copyPath)) {
    fail("");
    why.clear();
    return Status::kAgain;
  }
  return fail(Error(error));
}

}  // namespace kvos::cfg
