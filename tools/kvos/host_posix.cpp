// The tool's host layer on POSIX systems.
#include <fcntl.h>
#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "host.h"

namespace kvos::host {

Args Start(int argc, char** argv) { return Args(argv, argv + argc); }

long long RegularFileSize(std::string const& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<long long>(st.st_size) : -1;
}

bool MayAppend(std::string const& path) { return access(path.c_str(), W_OK) == 0; }

std::string ReadAt(std::string const& path, long long from, std::size_t size) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string bytes(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd, &bytes[done], size - done, from + static_cast<long long>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fd);
  bytes.resize(done);
  return bytes;
}

std::FILE* OpenForReading(std::string const& path, std::string& why) {
  std::FILE* in = std::fopen(path.c_str(), "re");
  if (in == nullptr) {
    why = std::strerror(errno);
    return nullptr;
  }
  struct stat st;
  if (fstat(fileno(in), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(in);
    why = std::strerror(EISDIR);
    return nullptr;
  }
  return in;
}

bool ReadLine(std::FILE* in, std::string& line) {
  char* buffer = nullptr;
  std::size_t size = 0;
  ssize_t n = getline(&buffer, &size, in);
  if (n >= 0) line.assign(buffer, static_cast<std::size_t>(n));
  std::free(buffer);
  return n >= 0;
}

DetachedStdio::DetachedStdio() {
  std::fflush(stdout);
  std::fflush(stderr);
  int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return;
  for (int fd : {0, 1, 2}) {
    _saved[fd] = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    dup2(null, fd);
  }
  close(null);
  _ok = true;
}

DetachedStdio::~DetachedStdio() {
  if (!_ok) return;
  for (int fd : {0, 1, 2}) {
    if (_saved[fd] >= 0) {
      dup2(static_cast<int>(_saved[fd]), fd);
      close(static_cast<int>(_saved[fd]));
    } else {
      close(fd);  // it was closed before
    }
  }
}

char const* NullDevice() { return "/dev/null"; }

bool NamesDevice(std::string const&) { return false; }

std::string ResolverReason(int code) {
  switch (code) {
    case HOST_NOT_FOUND: return gai_strerror(EAI_NONAME);
    case NO_DATA: return gai_strerror(EAI_NODATA);
    case TRY_AGAIN: return gai_strerror(EAI_AGAIN);
    case NO_RECOVERY: return gai_strerror(EAI_FAIL);
    default: return hstrerror(code);
  }
}

bool LocalTime(std::time_t t, std::tm& local) { return localtime_r(&t, &local) != nullptr; }

namespace {

// Whether `file` is a compiled zone file.
bool IsZoneFile(std::string const& file) {
  std::ifstream in(file, std::ios::binary);
  char magic[4] = {};
  return in.read(magic, 4) && std::string(magic, 4) == "TZif";
}

// A zone rule in the POSIX form: a name of three or more letters (or one in
// angle brackets), then an offset; what follows (the summer time) the host
// reads leniently.
bool IsZoneRule(std::string const& rule) {
  std::size_t at = 0;
  if (!rule.empty() && rule[0] == '<') {
    at = rule.find('>');
    if (at == std::string::npos || at < 2) return false;
    ++at;
  } else {
    while (at < rule.size() && std::isalpha(static_cast<unsigned char>(rule[at]))) ++at;
    if (at < 3) return false;
  }
  if (at < rule.size() && (rule[at] == '+' || rule[at] == '-')) ++at;
  return at < rule.size() && std::isdigit(static_cast<unsigned char>(rule[at]));
}

// The zone that TZ names, when the host knows it; an unset or empty TZ is
// the system's zone or UTC.
bool IsKnownZone(char const* tz) {
  if (tz == nullptr || *tz == '\0') return true;
  std::string name(tz[0] == ':' ? tz + 1 : tz);
  if (name.empty()) return true;
  if (name[0] == '/') return IsZoneFile(name);
  char const* dir = std::getenv("TZDIR");
  if (IsZoneFile(std::string(dir != nullptr && *dir != '\0' ? dir : "/usr/share/zoneinfo") + "/" + name)) return true;
  return IsZoneRule(name);
}

}  // namespace

std::string ZoneLabel() {
  char const* zone = std::getenv("TZ");
  if (zone == nullptr) return "(system)";
  if (IsKnownZone(zone)) return zone;
  std::fprintf(stderr, "kvos time: the time zone '%s' of TZ is unknown; local times are UTC\n", zone);
  return std::string(zone) + " (unknown: UTC)";
}

}  // namespace kvos::host
