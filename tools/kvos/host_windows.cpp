// The tool's host layer on Windows.
#include <winsock2.h>
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "OS/ostime.h"
#include "host.h"

namespace kvos::host {

namespace {

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

// The host's text for its error number, without the line end it carries.
std::string ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out = n > 0 && text != nullptr ? Utf8(text) : "error " + std::to_string(code);
  if (text != nullptr) ::LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
    out.pop_back();
  return out;
}

HANDLE OpenShared(std::string const& path) {
  return ::CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

Args Start(int argc, char** argv) {
  // Bytes as they are: output the same as on other hosts, line feeds only.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // The C runtime's argv is in the code page of the moment; names in any
  // script come only from the UTF-16 command line.
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return Args(argv, argv + argc);
  Args args;
  for (int i = 0; i < count; ++i) args.push_back(Utf8(wide[i]));
  ::LocalFree(wide);
  return args;
}

long long RegularFileSize(std::string const& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
    return -1;
  return static_cast<long long>((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

bool MayAppend(std::string const& path) {
  HANDLE h = ::CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

std::string ReadAt(std::string const& path, long long from, std::size_t size) {
  HANDLE h = OpenShared(path);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string bytes(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at{};
    unsigned long long offset = static_cast<unsigned long long>(from) + done;
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD want = size - done > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size - done), got = 0;
    if (!::ReadFile(h, &bytes[done], want, &got, &at) || got == 0) break;
    done += got;
  }
  ::CloseHandle(h);
  bytes.resize(done);
  return bytes;
}

std::FILE* OpenForReading(std::string const& path, std::string& why) {
  DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = std::strerror(EISDIR);
    return nullptr;
  }
  // Through the host, so that others may append, rename or delete meanwhile.
  HANDLE h = OpenShared(path);
  if (h == INVALID_HANDLE_VALUE) {
    why = ErrorText(::GetLastError());
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  std::FILE* in = fd >= 0 ? _fdopen(fd, "rb") : nullptr;
  if (in == nullptr) {
    why = std::strerror(errno);
    if (fd >= 0)
      _close(fd);
    else
      ::CloseHandle(h);
  }
  return in;
}

bool ReadLine(std::FILE* in, std::string& line) {
  line.clear();
  _lock_file(in);
  int c;
  while ((c = _getc_nolock(in)) != EOF) {
    line += static_cast<char>(c);
    if (c == '\n') break;
  }
  _unlock_file(in);
  return !line.empty();
}

// Programs are started without a console and without the tool's handles,
// with or without waiting: there is nothing to take away from them.
DetachedStdio::DetachedStdio() { _ok = true; }

DetachedStdio::~DetachedStdio() = default;

char const* NullDevice() { return "NUL"; }

bool NamesDevice(std::string const& path) {
  std::size_t slash = path.find_last_of("\\/:");
  std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
  // The host drops an extension and trailing blanks: "nul.log" and
  // "CON .log" are the devices too.
  base = base.substr(0, base.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$")
    return true;
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

std::string ResolverReason(int code) {
  // getaddrinfo's words, as other hosts give them, for Winsock's numbers.
  switch (code) {
    case WSAHOST_NOT_FOUND: return "Name or service not known";
    case WSANO_DATA: return "No address associated with hostname";
    case WSATRY_AGAIN: return "Temporary failure in name resolution";
    case WSANO_RECOVERY: return "Non-recoverable failure in name resolution";
    default: return ErrorText(static_cast<DWORD>(code));
  }
}

bool LocalTime(std::time_t t, std::tm& local) {
  // The library's calendar, on the host's zone rules (the C runtime's
  // follows TZ instead). It starts in 1970.
  if (t < 0) return false;
  Korvane::cKV_DateTime fields;
  fields = Korvane::cKV_SysTime(static_cast<unsigned long long>(t) * 1000000000ULL);
  local = std::tm{};
  local.tm_year = fields.year - 1900;
  local.tm_mon = fields.month - 1;
  local.tm_mday = fields.day;
  local.tm_hour = fields.hour;
  local.tm_min = fields.minute;
  local.tm_sec = fields.second;
  return true;
}

std::string ZoneLabel() {
  // The library follows the host's zone setting; TZ is the C runtime's
  // alone and changes nothing here.
  DYNAMIC_TIME_ZONE_INFORMATION zone;
  if (::GetDynamicTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return "(system)";
  std::string key = Utf8(zone.TimeZoneKeyName);
  if (key.empty()) key = Utf8(zone.StandardName);
  return key.empty() ? "(system)" : "(system: " + key + ")";
}

}  // namespace kvos::host
