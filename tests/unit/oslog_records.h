// Reading log files back: a strict parser of the record layout for messages
// without empty lines, shared by the log suites of both hosts.
#ifndef KV_TESTS_UNIT_OSLOG_RECORDS_H
#define KV_TESTS_UNIT_OSLOG_RECORDS_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace kvtest {

struct Record {
  std::string time;  // without its line feed
  unsigned long thread = 0;
  long level = 0;
  std::string file;
  long line = 0;
  std::string message;
};

// Seconds of a time line read as UTC (for ordering), or -1 unless it is
// exactly "Www Mmm dd hh:mm:ss yyyy" with the weekday of that date.
inline long long TimeOf(std::string const& t) {
  static char const kDays[] = "SunMonTueWedThuFriSat";
  static char const kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  if (t.size() != 24 || t[3] != ' ' || t[7] != ' ' || t[10] != ' ' || t[13] != ':' || t[16] != ':' || t[19] != ' ')
    return -1;
  auto number = [&](std::size_t at, std::size_t n) {
    long v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
      if (t[i] < '0' || t[i] > '9') return -1L;
      v = v * 10 + (t[i] - '0');
    }
    return v;
  };
  char const* month = std::strstr(kMonths, t.substr(4, 3).c_str());
  long day = number(8, 2), hour = number(11, 2), minute = number(14, 2), second = number(17, 2),
       year = number(20, 4);
  if (month == nullptr || (month - kMonths) % 3 != 0 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 60 || year < 0)
    return -1;
  // Days since 1970-01-01 of the civil date (proleptic Gregorian).
  long m = (month - kMonths) / 3 + 1, y = year - (m <= 2 ? 1 : 0);
  long era = (y >= 0 ? y : y - 399) / 400, yoe = y - era * 400;
  long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  long long days = era * 146097LL + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  long weekday = static_cast<long>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  if (t.compare(0, 3, kDays + weekday * 3, 3) != 0) return -1;
  return days * 86400 + hour * 3600 + minute * 60 + second;
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

}  // namespace kvtest

#endif
