// Reading log files back in the tests: a strict parser of the record layout
// for messages without empty lines.
#ifndef KV_TESTS_OSLOG_SUPPORT_H
#define KV_TESTS_OSLOG_SUPPORT_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace logtest {

struct Record {
  std::string time;  // without its line feed
  unsigned long thread = 0;
  long level = 0;
  std::string file;
  long line = 0;
  std::string message;
};

inline bool IsTimeText(std::string const& t) {
  static char const* const kDays = "SunMonTueWedThuFriSat";
  static char const* const kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  if (t.size() != 24) return false;
  std::string day = t.substr(0, 3), month = t.substr(4, 3);
  if (std::strstr(kDays, day.c_str()) == nullptr || (std::strstr(kDays, day.c_str()) - kDays) % 3 != 0) return false;
  if (std::strstr(kMonths, month.c_str()) == nullptr || (std::strstr(kMonths, month.c_str()) - kMonths) % 3 != 0)
    return false;
  char const* pattern = "xxx xxx 00 00:00:00 0000";
  for (int i = 0; i < 24; ++i) {
    if (pattern[i] == '0' && (t[i] < '0' || t[i] > '9')) return false;
    if ((pattern[i] == ' ' || pattern[i] == ':') && t[i] != pattern[i]) return false;
  }
  return true;
}

// Parses every record of `text`; false (with `where` at the first byte that
// does not fit) when anything is torn or out of layout.
inline bool Parse(std::string const& text, std::vector<Record>& out, std::size_t& where) {
  std::size_t at = 0;
  while (at < text.size()) {
    where = at;
    Record r;
    std::size_t eol = text.find('\n', at);
    if (eol == std::string::npos) return false;
    r.time = text.substr(at, eol - at);
    if (!IsTimeText(r.time)) return false;
    at = eol + 1;
    eol = text.find('\n', at);
    if (eol == std::string::npos) return false;
    std::string header = text.substr(at, eol - at);
    char hex[16], rest[4];
    int consumed = 0;
    if (std::sscanf(header.c_str(), " [%15[0-9A-F]] LEVEL:%ld FILE:%n", hex, &r.level, &consumed) != 2 ||
        consumed == 0 || header.compare(0, 2, " [") != 0)
      return false;
    r.thread = std::strtoul(hex, nullptr, 16);
    std::size_t open = header.rfind('[');
    if (open == std::string::npos || open < static_cast<std::size_t>(consumed) || header.back() != ']') return false;
    r.file = header.substr(static_cast<std::size_t>(consumed), open - static_cast<std::size_t>(consumed));
    if (std::sscanf(header.c_str() + open, "[%ld]%3s", &r.line, rest) != 1) return false;
    at = eol + 1;
    if (text.compare(at, 5, " MSG:") != 0) return false;
    at += 5;
    std::size_t end = text.find("\n\n", at);
    if (end == std::string::npos) return false;
    r.message = text.substr(at, end - at);
    at = end + 2;
    out.push_back(std::move(r));
  }
  where = at;
  return true;
}

}  // namespace logtest

#endif
