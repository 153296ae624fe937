// Readers of the host's description files. They take the text as the host
// wrote it and refuse anything cut short or malformed rather than guess a
// figure from it.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "OS/internal/sysinfo.h"

namespace Korvane::sysinfo {

void TextBuf::Append(char const* text, std::size_t count) noexcept {
  std::size_t room = _cap - 1 - _len;
  if (count > room) count = room;
  std::memcpy(_block + _len, text, count);
  _len += count;
  _block[_len] = '\0';
}

void TextBuf::Append(char const* text) noexcept {
  if (text != nullptr) Append(text, std::strlen(text));
}

void TextBuf::Appendf(char const* format, ...) noexcept {
  std::va_list args;
  va_start(args, format);
  int n = std::vsnprintf(_block + _len, _cap - _len, format, args);
  va_end(args);
  if (n < 0) {
    _block[_len] = '\0';
    return;
  }
  _len += static_cast<std::size_t>(n) < _cap - _len ? static_cast<std::size_t>(n) : _cap - 1 - _len;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char const* LineEnd(char const* p) {
  while (*p != '\0' && *p != '\n') ++p;
  return p;
}

}  // namespace

char const* FindField(char const* text, char const* key, char separator, char const** end) noexcept {
  std::size_t keyLen = std::strlen(key);
  for (char const* line = text; *line != '\0';) {
    char const* lineEnd = LineEnd(line);
    if (static_cast<std::size_t>(lineEnd - line) > keyLen && std::strncmp(line, key, keyLen) == 0) {
      char const* p = line + keyLen;
      while (p < lineEnd && IsBlank(*p)) ++p;
      if (p < lineEnd && *p == separator) {
        if (end != nullptr) *end = lineEnd;
        return p + 1;
      }
    }
    line = *lineEnd == '\n' ? lineEnd + 1 : lineEnd;
  }
  return nullptr;
}

bool ParseUnsigned(char const* from, char const* to, unsigned long long& value) noexcept {
  while (from < to && IsBlank(*from)) ++from;
  while (to > from && IsBlank(to[-1])) --to;
  if (from == to) return false;
  unsigned long long v = 0;
  for (char const* p = from; p < to; ++p) {
    if (*p < '0' || *p > '9') return false;
    unsigned digit = static_cast<unsigned>(*p - '0');
    if (v > (~0ULL - digit) / 10) return false;
    v = v * 10 + digit;
  }
  value = v;
  return true;
}

namespace {

// ticks * 10^7 / hz; false when the result does not fit into 64 bits.
// In 64 bits on every width: whole seconds, then the rest of one.
bool TicksTo100ns(unsigned long long ticks, unsigned long long hz, unsigned long long& units) {
  constexpr unsigned long long kPerSecond = 10000000;
  unsigned long long whole = ticks / hz, rest = ticks % hz;
  if (whole > ~0ULL / kPerSecond) return false;
  // rest < hz; a clock of more than 1.8e12 ticks a second would need more
  // than 64 bits for the product, and the 64-bit mantissa keeps it exact.
  unsigned long long part = rest <= ~0ULL / kPerSecond
                                ? rest * kPerSecond / hz
                                : static_cast<unsigned long long>(static_cast<long double>(rest) * kPerSecond / hz);
  whole *= kPerSecond;
  if (whole > ~0ULL - part) return false;
  units = whole + part;
  return true;
}

}  // namespace

bool ParseCpuTimes(char const* stat, long ticksPerSecond, unsigned long long& total,
                   unsigned long long& idle) noexcept {
  if (ticksPerSecond <= 0) return false;
  // The aggregate line comes first: "cpu  user nice system idle iowait irq
  // softirq steal guest guest_nice". Guest time is already part of user and
  // nice time, so it is not added again.
  if (std::strncmp(stat, "cpu ", 4) != 0) return false;
  char const* end = LineEnd(stat);
  if (!LineComplete(end)) return false;
  unsigned long long field[8] = {};
  int count = 0;
  char const* p = stat + 4;
  while (p < end) {
    while (p < end && IsBlank(*p)) ++p;
    if (p == end) break;
    char const* q = p;
    while (q < end && !IsBlank(*q)) ++q;
    unsigned long long v;
    if (!ParseUnsigned(p, q, v)) return false;
    if (count < 8) field[count] = v;
    ++count;
    p = q;
  }
  if (count < 4) return false;  // user, nice, system and idle at the least
  unsigned long long sum = 0;
  for (unsigned long long f : field) {
    if (sum + f < sum) return false;
    sum += f;
  }
  // A total that wrapped would no longer hold the idle time.
  auto hz = static_cast<unsigned long long>(ticksPerSecond);
  unsigned long long t, i;
  if (!TicksTo100ns(sum, hz, t) || !TicksTo100ns(field[3] + field[4], hz, i)) return false;
  total = t;
  idle = i;
  return true;
}

namespace {

// A "Key:   123 kB" line of /proc/meminfo, in bytes.
bool MemField(char const* text, char const* key, unsigned long long& bytes) {
  char const* end = nullptr;
  char const* value = FindField(text, key, ':', &end);
  if (value == nullptr || !LineComplete(end)) return false;
  char const* unit = end;
  while (unit > value && IsBlank(unit[-1])) --unit;
  if (unit - value < 3 || std::strncmp(unit - 3, " kB", 3) != 0) return false;
  unsigned long long kb;
  if (!ParseUnsigned(value, unit - 3, kb) || kb > ~0ULL / 1024) return false;
  bytes = kb * 1024;
  return true;
}

}  // namespace

bool ParseMemTotal(char const* meminfo, unsigned long long& bytes) noexcept {
  return MemField(meminfo, "MemTotal", bytes);
}

bool ParseMemInfo(char const* meminfo, MemFigures& figures) noexcept {
  MemFigures f{};
  if (!MemField(meminfo, "MemTotal", f.total) || !MemField(meminfo, "SwapTotal", f.swapTotal) ||
      !MemField(meminfo, "SwapFree", f.swapFree))
    return false;
  if (!MemField(meminfo, "MemAvailable", f.available)) {
    // Kernels before 3.14 give no estimate: count what free(1) counted then.
    unsigned long long free, buffers, cached;
    if (!MemField(meminfo, "MemFree", free) || !MemField(meminfo, "Buffers", buffers) ||
        !MemField(meminfo, "Cached", cached))
      return false;
    f.available = free + buffers + cached;
    if (f.available > f.total) f.available = f.total;
  }
  figures = f;
  return true;
}

bool ParseProcessStart(char const* stat, unsigned long long& ticks) noexcept {
  // "pid (comm) state ppid ...": the command may hold blanks and
  // parentheses, so the fields start after the last ')'. The start time is
  // field 22, the 20th after the command. The command may hold line feeds
  // too: the record ends at the text's last one.
  char const* end = std::strrchr(stat, '\n');
  if (end == nullptr) return false;
  char const* p = end;
  while (p > stat && p[-1] != ')') --p;
  if (p == stat) return false;
  for (int field = 3; field <= 22; ++field) {
    if (p == end || *p != ' ') return false;
    ++p;
    char const* q = p;
    while (q < end && *q != ' ') ++q;
    if (q == p) return false;
    if (field == 22) return ParseUnsigned(p, q, ticks);
    p = q;
  }
  return false;
}

bool ParseResidentPages(char const* statm, unsigned long long& pages) noexcept {
  // "size resident shared text lib data dt"
  char const* end = LineEnd(statm);
  if (!LineComplete(end)) return false;
  char const* p = statm;
  while (p < end && *p != ' ') ++p;
  if (p == statm || p == end) return false;
  unsigned long long size;
  if (!ParseUnsigned(statm, p, size)) return false;
  char const* q = ++p;
  while (q < end && *q != ' ') ++q;
  return q > p && ParseUnsigned(p, q, pages);
}

int CountCpuList(char const* list) noexcept {
  // "0-3,6,8-9\n"
  long long count = 0;
  char const* p = list;
  for (;;) {
    char const* q = p;
    while (*q >= '0' && *q <= '9') ++q;
    unsigned long long first, last;
    if (!ParseUnsigned(p, q, first)) return 0;
    last = first;
    if (*q == '-') {
      p = q + 1;
      q = p;
      while (*q >= '0' && *q <= '9') ++q;
      if (!ParseUnsigned(p, q, last) || last < first) return 0;
    }
    count += static_cast<long long>(last - first + 1);
    if (last > 1u << 20 || count > 1 << 20) return 0;
    if (*q == ',') {
      p = q + 1;
      continue;
    }
    if (*q == '\n') ++q;
    return *q == '\0' ? static_cast<int>(count) : 0;
  }
}

bool OsReleaseValue(char const* text, char const* key, char* out, std::size_t cap) noexcept {
  // KEY=value lines, the value optionally quoted in the shell's way.
  std::size_t keyLen = std::strlen(key);
  char const* value = nullptr;
  char const* end = nullptr;
  for (char const* line = text; *line != '\0';) {
    char const* lineEnd = LineEnd(line);
    if (static_cast<std::size_t>(lineEnd - line) > keyLen && std::strncmp(line, key, keyLen) == 0 &&
        line[keyLen] == '=') {
      value = line + keyLen + 1;
      end = lineEnd;  // a later assignment wins, as in the shell
    }
    line = *lineEnd == '\n' ? lineEnd + 1 : lineEnd;
  }
  if (value == nullptr) return false;
  TextBuf result(out, cap);
  char quote = (*value == '"' || *value == '\'') ? *value : '\0';
  char const* p = quote != '\0' ? value + 1 : value;
  for (; p < end; ++p) {
    if (quote != '\0' && *p == quote) break;
    if (*p == '\\' && quote != '\'' && p + 1 < end) ++p;
    result.Append(p, 1);
  }
  // A value with an unclosed quote is not trusted.
  if (quote != '\0' && p == end) {
    result.Clear();
    return false;
  }
  return result.Length() > 0;
}

}  // namespace Korvane::sysinfo
