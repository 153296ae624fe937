// Reading log files back in the tests: a strict parser of the record layout
// for messages without empty lines.
#ifndef KV_TESTS_OSLOG_SUPPORT_H
#define KV_TESTS_OSLOG_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
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

// Seconds of a time line read as UTC (for ordering), or -1 unless it is
// exactly "Www Mmm dd hh:mm:ss yyyy": it must print back the same.
inline long long TimeOf(std::string const& t) {
  static char const kFormat[] = "%a %b %d %H:%M:%S %Y";
  std::tm tm{};
  char back[32];
  if (t.size() != 24 || strptime(t.c_str(), kFormat, &tm) != t.c_str() + 24) return -1;
  return std::strftime(back, sizeof back, kFormat, &tm) == 24 && t == back ? timegm(&tm) : -1;
}

// Every record of `text`; anything torn or out of layout fails the test at
// the first byte that does not fit.
inline std::vector<Record> Records(std::string const& text) {
  constexpr std::size_t npos = std::string::npos;
  std::vector<Record> out;
  for (std::size_t at = 0; at < text.size();) {
    Record r;
    char hex[16];
    int head = 0, tail = 0;
    std::size_t eol = text.find('\n', at);
    std::size_t msg = eol == npos ? npos : text.find("\n MSG:", eol + 1);
    std::size_t end = msg == npos ? npos : text.find("\n\n", msg + 6);
    std::string header = end == npos ? "" : text.substr(eol + 1, msg - eol - 1);
    std::size_t open = header.rfind('[');
    r.time = text.substr(at, eol - at);
    if (end == npos || TimeOf(r.time) < 0 || header.compare(0, 2, " [") != 0 || header.find('\n') != npos ||
        std::sscanf(header.c_str(), " [%15[0-9A-F]] LEVEL:%ld FILE:%n", hex, &r.level, &head) != 2 || head == 0 ||
        open == npos || open < static_cast<std::size_t>(head) ||
        std::sscanf(header.c_str() + open, "[%ld]%n", &r.line, &tail) != 1 || open + tail != header.size()) {
      ADD_FAILURE() << "out of the record layout at byte " << at << ": " << text.substr(at, 300);
      break;
    }
    r.thread = std::strtoul(hex, nullptr, 16);
    r.file = header.substr(static_cast<std::size_t>(head), open - static_cast<std::size_t>(head));
    r.message = text.substr(msg + 6, end - msg - 6);
    out.push_back(std::move(r));
    at = end + 2;
  }
  return out;
}

}  // namespace logtest

#endif
