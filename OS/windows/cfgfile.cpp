#include <windows.h>

#include <cstdio>

#include "OS/host/cfgfile.h"
#include "OS/host/fault.h"
#include "OS/windows/fault.h"
#include "OS/windows/crtfile.h"

// Binary mode: the same bytes as on every host. A file with CR LF line ends
// (written by another program) reads as it does elsewhere: the reader takes
// the CR as blank. Text mode would also end the file at a Ctrl-Z byte.

namespace Korvane::host {

namespace {
std::FILE* File(CfgStream* stream) { return reinterpret_cast<std::FILE*>(stream); }

bool Failed(char const* point) { return win::Injected(point); }
}  // namespace

CfgStream* CfgOpenRead(char const* path) noexcept {
  if (Failed("cfg.open")) return nullptr;
  return reinterpret_cast<CfgStream*>(win::OpenCrtFile(path, "rb"));
}

CfgStream* CfgOpenWrite(char const* path) noexcept {
  if (Failed("cfg.open")) return nullptr;
  return reinterpret_cast<CfgStream*>(win::OpenCrtFile(path, "wb"));
}

int CfgReadLine(CfgStream* stream, char* buf, int cap) noexcept {
  if (Failed("cfg.read")) return -1;
  std::FILE* f = File(stream);
  if (std::fgets(buf, cap, f) != nullptr) return 1;
  return std::ferror(f) ? -1 : 0;
}

int CfgWrite(CfgStream* stream, char const* text) noexcept {
  if (Failed("cfg.write")) return -1;
  return std::fputs(text, File(stream)) == EOF ? -1 : 0;
}

int CfgClose(CfgStream* stream) noexcept {
  int rc = std::fclose(File(stream));
  if (Failed("cfg.close")) return -1;
  return rc == 0 ? 0 : -1;
}

}  // namespace Korvane::host
