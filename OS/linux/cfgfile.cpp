#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "OS/host/cfgfile.h"
#include "OS/host/fault.h"

// Linux has no text mode: "rt"/"wt" are plain reads and writes, and a line
// feed stays a line feed. The streams belong to one reader or writer, so the
// unlocked stdio calls are safe.

namespace Korvane::host {

namespace {
std::FILE* File(CfgStream* stream) { return reinterpret_cast<std::FILE*>(stream); }
}  // namespace

CfgStream* CfgOpenRead(char const* path) noexcept {
  if (int e = Fault("cfg.open")) {
    errno = e;
    return nullptr;
  }
  std::FILE* f = std::fopen(path, "re");
  if (f == nullptr) return nullptr;
  // glibc opens a directory for reading; the first read would fail instead.
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f);
    errno = EISDIR;
    return nullptr;
  }
  return reinterpret_cast<CfgStream*>(f);
}

CfgStream* CfgOpenWrite(char const* path) noexcept {
  if (int e = Fault("cfg.open")) {
    errno = e;
    return nullptr;
  }
  return reinterpret_cast<CfgStream*>(std::fopen(path, "we"));
}

int CfgReadLine(CfgStream* stream, char* buf, int cap) noexcept {
  if (int e = Fault("cfg.read")) {
    errno = e;
    return -1;
  }
  std::FILE* f = File(stream);
  if (fgets_unlocked(buf, cap, f) != nullptr) return 1;
  return ferror_unlocked(f) ? -1 : 0;
}

int CfgWrite(CfgStream* stream, char const* text) noexcept {
  if (int e = Fault("cfg.write")) {
    errno = e;
    return -1;
  }
  return fputs_unlocked(text, File(stream)) == EOF ? -1 : 0;
}

int CfgClose(CfgStream* stream) noexcept {
  int rc = std::fclose(File(stream));
  if (int e = Fault("cfg.close")) {
    errno = e;
    return -1;
  }
  return rc == 0 ? 0 : -1;
}

}  // namespace Korvane::host
