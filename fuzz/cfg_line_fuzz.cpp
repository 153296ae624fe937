// Hostile text for the configuration reader: whatever the bytes, reading
// ends, keeps one record per line piece until a rejected one, and whatever
// was read is written so that reading the output gives the same records
// again (blank lines aside) as long as the records are ones the text form
// can hold.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "OS/oscfg.h"

using Korvane::cKV_CfgFile;
using Korvane::cKV_CfgRecord;
using Korvane::cKV_Error;

namespace {

std::string const& Dir() {
  static std::string dir = [] {
    // Memory-backed when there is one: the runs are bound by file I/O.
    char const* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kvos-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return dir;
}

bool Put(std::string const& path, uint8_t const* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "we");
  if (f == nullptr) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

bool IsBlankLine(cKV_CfgRecord const* r) {
  return r->GetType() == Korvane::eCfgComment && r->GetComment().Length() == 0;
}

// Texts that the writer puts down as they are and the reader takes back:
// no '#' or double quote in a value, nothing that trims differently.
bool Expressible(cKV_CfgRecord const* r) {
  auto edgeBlank = [](char const* s) {
    size_t n = std::strlen(s);
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    return n > 0 && (blank(s[0]) || blank(s[n - 1]));
  };
  char const* comment = r->GetComment();
  // A written line longer than the reader's piece would come back split.
  if (r->GetName().Length() + r->GetValue().Length() + std::strlen(comment) + 8 > 32767) return false;
  if (std::strpbrk(comment, "\r\n") != nullptr || edgeBlank(comment)) return false;
  if (r->GetType() == Korvane::eCfgParam) {
    char const* value = r->GetValue();
    if (std::strpbrk(value, "#\"\r\n") != nullptr || edgeBlank(value)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string in = Dir() + "/in.cfg";
  std::string out = Dir() + "/out.cfg";
  // New files each run: truncating an old one costs a flush on some file
  // systems.
  unlink(in.c_str());
  unlink(out.c_str());
  if (!Put(in, data, size)) std::abort();

  cKV_CfgFile cfg;
  cKV_Error error;
  if (!cfg.ReadFile(error, in.c_str())) __builtin_trap();

  // No more records than line pieces.
  size_t pieces = 0;
  for (size_t at = 0; at < size;) {
    uint8_t const* lf = static_cast<uint8_t const*>(std::memchr(data + at, '\n', size - at));
    size_t end = lf != nullptr ? static_cast<size_t>(lf - data) + 1 : size;
    pieces += (end - at + 32766) / 32767;
    at = end;
  }
  if (cfg.GetList().GetCount() > pieces) __builtin_trap();

  bool expressible = true;
  for (cKV_CfgRecord* r = cfg.GetFirst(); r != nullptr; r = cfg.GetNext(r)) {
    if (r->GetType() != Korvane::eCfgSection && r->GetType() != Korvane::eCfgParam &&
        r->GetType() != Korvane::eCfgComment)
      __builtin_trap();
    // Names are runs of name characters and never empty for parameters.
    if (r->GetType() == Korvane::eCfgParam && r->GetName().Length() == 0) __builtin_trap();
    if (!Expressible(r)) expressible = false;
  }

  if (!cfg.WriteFile(error, out.c_str())) __builtin_trap();
  cKV_CfgFile back;
  if (!back.ReadFile(error, out.c_str())) __builtin_trap();
  if (!expressible) return 0;
  cKV_CfgRecord* a = cfg.GetFirst();
  cKV_CfgRecord* b = back.GetFirst();
  for (;;) {
    while (a != nullptr && IsBlankLine(a)) a = cfg.GetNext(a);
    while (b != nullptr && IsBlankLine(b)) b = back.GetNext(b);
    if (a == nullptr || b == nullptr) break;
    if (a->GetType() != b->GetType() || !(a->GetName() == b->GetName()) || !(a->GetValue() == b->GetValue()) ||
        !(a->GetComment() == b->GetComment()))
      __builtin_trap();
    a = cfg.GetNext(a);
    b = back.GetNext(b);
  }
  if (a != nullptr || b != nullptr) __builtin_trap();
  return 0;
}
