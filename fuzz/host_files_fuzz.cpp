// Hostile contents of the host's description files (/proc, /sys,
// os-release) for their readers: no crash, no read past the text, and no
// figure that the text does not hold.
#include <cstdint>
#include <cstring>
#include <string>

#include "OS/internal/sysinfo.h"

using namespace Korvane::sysinfo;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  // Exact-size copy: the address sanitizer catches a read past the NUL.
  std::string text(reinterpret_cast<char const*>(data), size);
  char const* t = text.c_str();
  std::size_t length = std::strlen(t);

  unsigned long long total = 1, idle = 1;
  if (ParseCpuTimes(t, 100, total, idle)) {
    if (idle > total) {
      // Idle time is part of the total, unless the fields that make it up
      // overflowed into it, which ParseCpuTimes must refuse.
      __builtin_trap();
    }
  }

  MemFigures mem{};
  if (ParseMemInfo(t, mem) && (mem.total % 1024 != 0 || mem.swapFree % 1024 != 0)) __builtin_trap();
  unsigned long long bytes = 0;
  ParseMemTotal(t, bytes);

  int cpus = CountCpuList(t);
  if (cpus < 0 || cpus > (1 << 20)) __builtin_trap();

  char value[16];
  for (char const* key : {"NAME", "VERSION_ID", "PRETTY_NAME"})
    if (OsReleaseValue(t, key, value, sizeof value) && (value[0] == '\0' || std::strlen(value) >= sizeof value))
      __builtin_trap();

  unsigned long long ticks = 0, pages = 0;
  ParseProcessStart(t, ticks);
  ParseResidentPages(t, pages);

  char const* end = nullptr;
  if (char const* v = FindField(t, "model name", ':', &end))
    if (v < t || end < v || end > t + length) __builtin_trap();
  return 0;
}
