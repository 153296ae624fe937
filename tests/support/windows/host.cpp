// The Windows bodies of the test support: temporary directories and
// running programs.
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/testing.h"

namespace kvtest {

namespace {

std::wstring Wide(std::string const& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string Utf8(std::wstring const& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// One argument quoted the way the C runtime splits a command line.
void AppendQuoted(std::wstring& line, std::wstring const& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  for (std::size_t i = 0;; ++i) {
    std::size_t slashes = 0;
    while (i < arg.size() && arg[i] == L'\\') ++i, ++slashes;
    if (i == arg.size()) {
      line.append(slashes * 2, L'\\');
      break;
    }
    if (arg[i] == L'"') {
      line.append(slashes * 2 + 1, L'\\');
    } else {
      line.append(slashes, L'\\');
    }
    line += arg[i];
  }
  line += L'"';
}

void Drain(HANDLE pipe, std::string& into) {
  char buf[65536];
  DWORD n = 0;
  while (::ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) into.append(buf, n);
}

}  // namespace

TempDir::TempDir() {
  wchar_t base[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, base);
  if (n == 0 || n > MAX_PATH) throw std::runtime_error("GetTempPathW failed");
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    std::wstring path = std::wstring(base) + L"kvos-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount64() + attempt);
    if (CreateDirectoryW(path.c_str(), nullptr)) {
      _path = Utf8(path);
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  throw std::runtime_error("CreateDirectoryW failed");
}

RunResult Run(std::vector<std::string> const& argv, std::string const& input) {
  RunResult result;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE inRead, inWrite, outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&inRead, &inWrite, &inherit, 0) || !CreatePipe(&outRead, &outWrite, &inherit, 0) ||
      !CreatePipe(&errRead, &errWrite, &inherit, 0))
    throw std::runtime_error("CreatePipe failed");
  // Only the child's ends are inherited.
  SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

  std::wstring line;
  for (auto const& a : argv) {
    if (!line.empty()) line += L' ';
    AppendQuoted(line, Wide(a));
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = inRead;
  si.hStdOutput = outWrite;
  si.hStdError = errWrite;
  PROCESS_INFORMATION pi{};
  BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  DWORD startError = GetLastError();
  CloseHandle(inRead);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (!started) {
    CloseHandle(inWrite);
    CloseHandle(outRead);
    CloseHandle(errRead);
    result.err = "CreateProcessW failed: " + std::to_string(startError);
    return result;
  }
  std::thread errReader(Drain, errRead, std::ref(result.err));
  std::thread inWriter([&] {
    std::size_t done = 0;
    while (done < input.size()) {
      DWORD n = 0;
      if (!::WriteFile(inWrite, input.data() + done, static_cast<DWORD>(input.size() - done), &n, nullptr)) break;
      done += n;
    }
    CloseHandle(inWrite);
  });
  Drain(outRead, result.out);
  errReader.join();
  inWriter.join();
  CloseHandle(outRead);
  CloseHandle(errRead);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  result.status = static_cast<int>(code);
  return result;
}

void SetEnv(char const* name, char const* value) {
  // Both the host's block and the C runtime's copy, which getenv reads.
  // The runtime knows no empty values (it removes the name from both), so
  // the host's block is set after it: programs started see an empty value.
  _putenv_s(name, value == nullptr ? "" : value);
  SetEnvironmentVariableW(Wide(name).c_str(), value == nullptr ? nullptr : Wide(value).c_str());
}

std::string HostLines(std::string const& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

int HostError(Err kind) {
  switch (kind) {
    case Err::kNotFound:
      return ERROR_FILE_NOT_FOUND;
    case Err::kPathNotFound:
      return ERROR_PATH_NOT_FOUND;
    case Err::kBusy:
      return ERROR_SHARING_VIOLATION;
    case Err::kExists:
      return ERROR_ALREADY_EXISTS;
    case Err::kNotEmpty:
      return ERROR_DIR_NOT_EMPTY;
    case Err::kNoSpace:
      return ERROR_DISK_FULL;
    case Err::kAccess:
    case Err::kIsDir:  // a directory is not a file to open or delete
      return ERROR_ACCESS_DENIED;
    case Err::kNameTooLong:
      return ERROR_FILENAME_EXCED_RANGE;
    case Err::kInvalidArgument:
      return ERROR_INVALID_PARAMETER;
    case Err::kNotSeekable:
      return ERROR_SEEK_ON_DEVICE;
  }
  return -1;
}

char HostSeparator() { return '\\'; }

std::string FullDevice() { return ""; }

bool MakePipe(void*& readEnd, void*& writeEnd) {
  HANDLE r, w;
  if (!CreatePipe(&r, &w, nullptr, 0)) return false;
  readEnd = r;
  writeEnd = w;
  return true;
}

void ClosePipeEnd(void* end) { CloseHandle(static_cast<HANDLE>(end)); }

bool WritePipe(void* writeEnd, std::string const& bytes) {
  DWORD n = 0;
  return ::WriteFile(static_cast<HANDLE>(writeEnd), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
         n == bytes.size();
}

void* OpenOwn(std::string const& path) {
  return CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string FileId(std::string const& path) {
  HANDLE h = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "";
  BY_HANDLE_FILE_INFORMATION info;
  BOOL ok = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (!ok) return "";
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":" +
         std::to_string(info.nFileIndexLow);
}

bool IsOpenHere(std::string const& path) {
  // Nobody may have the file open for an open that shares nothing to be
  // granted; the test's own process is the only one that touches it.
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

int OpenFileCount() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return static_cast<int>(count);
  // Wine answers 0: count the handle values that the host knows instead
  // (they are multiples of 4, handed out from the bottom of the table).
  int open = 0;
  for (std::uintptr_t value = 4; value < (1u << 14); value += 4) {
    DWORD flags;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
  }
  return open;
}

bool MakeSymlink(std::string const& target, std::string const& link, std::string& why) {
  DWORD attributes = GetFileAttributesW(Wide(target).c_str());
  DWORD flags = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                    ? SYMBOLIC_LINK_FLAG_DIRECTORY
                    : 0;
  if (!CreateSymbolicLinkW(Wide(link).c_str(), Wide(target).c_str(), flags | 0x2 /* unprivileged */)) {
    why = "CreateSymbolicLinkW failed: " + std::to_string(GetLastError());
    return false;
  }
  // A link the host does not show as one (Wine) proves nothing.
  DWORD shown = GetFileAttributesW(Wide(link).c_str());
  if (shown != INVALID_FILE_ATTRIBUTES && (shown & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
  RemoveDirectoryW(Wide(link).c_str()) || DeleteFileW(Wide(link).c_str());
  why = "the host made the link but does not show it as one (GetFileAttributesW)";
  return false;
}

bool SetModTime(std::string const& path, long long seconds) {
  HANDLE h = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ULARGE_INTEGER v;
  v.QuadPart = static_cast<unsigned long long>(seconds + 11644473600LL) * 10000000ULL;
  FILETIME t{v.LowPart, v.HighPart};
  BOOL ok = SetFileTime(h, nullptr, &t, &t);
  CloseHandle(h);
  return ok != 0;
}

std::vector<std::string> ProgramArguments() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> out;
  for (int i = 0; wide != nullptr && i < count; ++i) out.push_back(Utf8(wide[i]));
  if (wide != nullptr) LocalFree(wide);
  return out;
}

std::string ProgramPath() {
  wchar_t path[32768];
  DWORD n = GetModuleFileNameW(nullptr, path, 32768);
  return Utf8(std::wstring(path, n));
}

unsigned int HostThreadId() { return GetCurrentThreadId(); }

int KilledExitStatus(unsigned int exitCode) { return static_cast<int>(exitCode); }

int HostHandleSlack() { return 2; }

}  // namespace kvtest
