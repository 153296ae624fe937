// kvos log: writes records in the library's log layout, tells where logs go,
// and reads log files back record by record.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "OS/oserror.h"
#include "OS/osio.h"
#include "OS/oslog.h"
#include "OS/osprocess.h"
#include "OS/ostime.h"
#include "command.h"
#include "host.h"

namespace kvos {
namespace {

using Korvane::cKV_DateTime;
using Korvane::cKV_Error;
using Korvane::cKV_Log;
using Korvane::cKV_String;
using Korvane::cKV_SysTime;

int Run(Args const& args);
std::size_t DataFrom(Args const& args);

Command const kCommand{
    "log", "write log records, show where logs go, read log files",
    "Usage: kvos log write [--dir DIR] [--sub SUB] [--name NAME] [--level N]\n"
    "                      [--file F] [--line L] [--] MESSAGE...\n"
    "       kvos log where\n"
    "       kvos log show FILE [--level N] [--thread HEX] [--grep TEXT]\n"
    "                          [--since \"YYYY-MM-DD hh:mm:ss\"]\n"
    "\n"
    "write  appends one record to DIR/SUB/NAME.log (directories are created)\n"
    "       in the layout that applications write, and prints the file's\n"
    "       path. DIR defaults to the directory that `kvos log where` shows,\n"
    "       NAME to \"kvos\", N to 2, F to \"unknown\" and L to 0. The record is\n"
    "       written whatever its level. The words of MESSAGE are joined with\n"
    "       blanks; options come before the message (or end with --).\n"
    "where  prints the directory for log files that WDIR (a ';'-separated\n"
    "       list of candidates) or the temporary directory gives, and on a\n"
    "       second line why. It may create the first WDIR candidate, as\n"
    "       applications do.\n"
    "show   prints the records of FILE that pass every filter given, whole:\n"
    "         --level N      records of level N and below\n"
    "         --thread HEX   records of that thread id\n"
    "         --grep TEXT    records whose message holds TEXT\n"
    "         --since TIME   records of that local time or later\n"
    "       Messages may span several lines. Lines that do not fit the\n"
    "       layout are skipped: the first is reported and the exit status\n"
    "       is 1, but every readable record is still shown. Lines may end\n"
    "       in CR LF (files of other programs); records print with LF.\n"
    "\n"
    "On Windows the paths are written with '\\', the temporary directory is\n"
    "the host's (TMP, TEMP), and records are the same bytes as elsewhere\n"
    "(LF line ends). Other programs may read, append to, rename or delete a\n"
    "log file while it is written. A log file name that the host takes for\n"
    "a device (nul.log, CON.log, COM1.log) is refused.\n",
    Run, DataFrom};
KVOS_COMMAND(kCommand);

// The words of a message to write are data, "--help" among them.
std::size_t DataFrom(Args const& args) {
  if (args.empty() || args[0] != "write") return args.size();
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--" || !IsOption(args[i])) return i;
    if (args[i] != "--help") ++i;  // every option of write takes a value
  }
  return args.size();
}

// ---- write -----------------------------------------------------------------

bool IntOption(Args const& args, std::size_t& i, char const* what, int& value, std::string& problem) {
  long long v = 0;
  if (i + 1 >= args.size() || !ParseInteger(args[i + 1], INT_MIN, INT_MAX, v)) {
    problem = std::string(what) + " needs a whole number between " + std::to_string(INT_MIN) + " and " +
              std::to_string(INT_MAX);
    return false;
  }
  value = static_cast<int>(v);
  ++i;
  return true;
}

long long FileSize(std::string const& path) { return host::RegularFileSize(path); }

// Whether the bytes that the file gained, from `before` to `after`, hold
// the end of the record whole. Others may append to the same file, so the
// record need not be the last thing in it.
bool HoldsRecordEnd(std::string const& path, long long before, long long after, std::string const& end) {
  if (after < 0 || after <= before) return false;
  long long from = before < 0 ? 0 : before;
  return host::ReadAt(path, from, static_cast<std::size_t>(after - from)).find(end) != std::string::npos;
}

int Write(Args const& args) {
  std::string dir, sub, name = "kvos", file, message;
  bool haveDir = false, haveFile = false, inMessage = false;
  std::size_t words = 0;
  int level = 2, line = 0;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string const& a = args[i];
    if (!inMessage && a == "--") {
      inMessage = true;
      continue;
    }
    if (!inMessage && a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string problem;
      if (a == "--level") {
        if (!IntOption(args, i, "--level", level, problem)) return UsageError(kCommand, problem);
      } else if (a == "--line") {
        if (!IntOption(args, i, "--line", line, problem)) return UsageError(kCommand, problem);
      } else if (a == "--dir" || a == "--sub" || a == "--name" || a == "--file") {
        if (i + 1 >= args.size()) return UsageError(kCommand, a + " needs a value");
        std::string const& v = args[++i];
        if (a == "--dir") dir = v, haveDir = true;
        if (a == "--sub") sub = v;
        if (a == "--name") name = v;
        if (a == "--file") file = v, haveFile = true;
      } else {
        return UsageError(kCommand, "unknown option " + a);
      }
      continue;
    }
    inMessage = true;
    if (words++ > 0) message += ' ';
    message += a;
  }
  if (words == 0) return UsageError(kCommand, "write needs a MESSAGE");
  if (name.empty()) return UsageError(kCommand, "--name must not be empty");

  if (!haveDir) dir = static_cast<char const*>(Korvane::osGetLogDir());
  // The factory's own composition, to tell afterwards whether the record
  // reached the file or fell back to standard output.
  cKV_String path(dir.c_str());
  Korvane::osEnsureTrailingSlash(path);
  path += sub.c_str();
  Korvane::osEnsureCorrectDirSlash(path);
  Korvane::osEnsureTrailingSlash(path);
  path += name.c_str();
  path += ".log";
  std::string target(path);
  // The log would write to the device, and the record would be lost
  // without a trace.
  if (host::NamesDevice(target))
    return Failure(kCommand, "cannot append to " + target + ": it names a device of the host, not a file");

  cKV_Error err;
  cKV_Log* log = cKV_Log::Create(&err, dir.c_str(), sub.c_str(), nullptr, name.c_str(), nullptr);
  if (log == nullptr) {
    cKV_String text = err.GetText();
    return Failure(kCommand, std::string("cannot make the log directory: ") + static_cast<char const*>(text));
  }
  long long before = FileSize(target);
  log->SetOutputLevel(level);
  cKV_Log::Log(log, level, haveFile ? file.c_str() : nullptr, line, "%s", message.c_str());
  delete log;
  long long after = FileSize(target);
  if (!HoldsRecordEnd(target, before, after, " MSG:" + message + "\n\n")) {
    std::fflush(stdout);
    // The log falls back to standard output only when it cannot open the
    // file; a write that fails on an open file (a full disk) loses the
    // record or leaves only its start.
    if (after < 0 || !host::MayAppend(target))
      return Failure(kCommand, "cannot append to " + target + "; the record went to standard output");
    return Failure(kCommand, "cannot append to " + target + ": the record is missing or incomplete there");
  }
  std::printf("%s\n", target.c_str());
  return kOk;
}

// ---- where -----------------------------------------------------------------

// The candidates of WDIR as the library walks them: each runs to the next
// ';' after its first character; a ';' at the very end ends the list.
std::deque<std::string> Candidates(std::string const& value) {
  std::deque<std::string> out;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = start >= value.size() ? value.size() : value.find(';', start + 1);
    if (end == std::string::npos) end = value.size();
    out.push_back(value.substr(start, end - start));
    if (end >= value.size() || end + 1 == value.size()) break;
    start = end + 1;
  }
  return out;
}

// `text` with the separators that the host writes, as the library names
// the log directory.
std::string AsPath(std::string const& text) {
  cKV_String path(text.c_str());
  Korvane::osEnsureCorrectDirSlash(path);
  return static_cast<char const*>(path);
}

int Where(Args const& args) {
  Options options;
  if (!options.Parse(kCommand, args, 1, {})) return kBadUsage;
  if (!options.operands.empty()) return UsageError(kCommand, "where takes no arguments");
  cKV_String wdir;
  bool set = Korvane::osGetEnv("WDIR", wdir);
  std::deque<std::string> candidates = Candidates(set ? static_cast<char const*>(wdir) : "");
  bool firstExisted = Korvane::osIsDirectory(AsPath(candidates.front()).c_str());

  std::string dir(static_cast<char const*>(Korvane::osGetLogDir()));
  std::printf("%s\n", dir.c_str());
  if (!set) {
    std::printf("temporary directory: WDIR is not set\n");
    return kOk;
  }
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    std::string path = AsPath(candidates[i]);
    char const separator = AsPath("/")[0];
    std::string listed = path.empty() || path.back() == separator ? path + "Logs" : path + separator + "Logs";
    if (listed != dir) continue;
    if (i == 0 && !firstExisted)
      std::printf("WDIR element 1 of %zu, created now: %s\n", candidates.size(), candidates[i].c_str());
    else
      std::printf("WDIR element %zu of %zu: %s\n", i + 1, candidates.size(), candidates[i].c_str());
    return kOk;
  }
  if (candidates.front().empty())
    std::printf("temporary directory: WDIR is empty\n");
  else
    std::printf("temporary directory: no WDIR element is a directory, and the first (%s) could not be created\n",
                candidates.front().c_str());
  return kOk;
}

// ---- show ------------------------------------------------------------------

char const* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
char const* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Local time fields, comparable as a whole.
struct Stamp {
  long long year = 0;
  int month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool operator<(Stamp const& o) const {
    if (year != o.year) return year < o.year;
    int const a[] = {month, day, hour, minute, second};
    int const b[] = {o.month, o.day, o.hour, o.minute, o.second};
    for (int i = 0; i < 5; ++i)
      if (a[i] != b[i]) return a[i] < b[i];
    return false;
  }
};

bool Digits(std::string const& s, std::size_t at, std::size_t count, int& value) {
  if (at + count > s.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    value = value * 10 + (s[i] - '0');
  }
  return true;
}

// The library's calendar decides what is a real date and time.
bool IsRealTime(int year, Stamp const& t) {
  cKV_DateTime d{};
  d.year = static_cast<unsigned short>(year);
  d.month = static_cast<unsigned char>(t.month);
  d.day = static_cast<unsigned char>(t.day);
  d.hour = static_cast<unsigned char>(t.hour);
  d.minute = static_cast<unsigned char>(t.minute);
  d.second = static_cast<unsigned char>(t.second);
  cKV_SysTime unused;
  return d.ToSysTime(unused);
}

// "Sat Mar 07 14:05:09 2009": the time line of a record.
bool ParseTimeLine(std::string const& s, Stamp& t) {
  if (s.size() < 22 || s[3] != ' ' || s[7] != ' ' || s[10] != ' ' || s[13] != ':' || s[16] != ':' || s[19] != ' ')
    return false;
  bool day = false;
  for (char const* d : kDays) day = day || s.compare(0, 3, d) == 0;
  t.month = 0;
  for (int m = 0; m < 12; ++m)
    if (s.compare(4, 3, kMonths[m]) == 0) t.month = m + 1;
  if (!day || t.month == 0) return false;
  if (!Digits(s, 8, 2, t.day) || !Digits(s, 11, 2, t.hour) || !Digits(s, 14, 2, t.minute) ||
      !Digits(s, 17, 2, t.second))
    return false;
  std::size_t at = 20;
  bool negative = at < s.size() && s[at] == '-';
  if (negative) ++at;
  if (at >= s.size() || s.size() - at > 12) return false;
  t.year = 0;
  for (; at < s.size(); ++at) {
    if (s[at] < '0' || s[at] > '9') return false;
    t.year = t.year * 10 + (s[at] - '0');
  }
  if (negative) t.year = -t.year;
  return true;
}

bool SignedNumber(std::string const& s, std::size_t& at, long long& value) {
  bool negative = at < s.size() && s[at] == '-';
  std::size_t begin = negative ? at + 1 : at;
  std::size_t end = begin;
  while (end < s.size() && end - begin < 11 && s[end] >= '0' && s[end] <= '9') ++end;
  if (end == begin) return false;
  value = std::strtoll(s.substr(begin, end - begin).c_str(), nullptr, 10);
  if (negative) value = -value;
  at = end;
  return true;
}

struct Header {
  unsigned long thread = 0;
  long long level = 0;
};

// " [1A4] LEVEL:2 FILE:main[42]": the header line of a record.
bool ParseHeader(std::string const& s, Header& h) {
  if (s.compare(0, 2, " [") != 0) return false;
  std::size_t at = 2;
  std::size_t begin = at;
  while (at < s.size() && at - begin < 8 && std::strchr("0123456789ABCDEF", s[at]) != nullptr && s[at] != '\0') ++at;
  if (at == begin) return false;
  h.thread = std::strtoul(s.substr(begin, at - begin).c_str(), nullptr, 16);
  if (s.compare(at, 8, "] LEVEL:") != 0) return false;
  at += 8;
  if (!SignedNumber(s, at, h.level)) return false;
  if (s.compare(at, 6, " FILE:") != 0) return false;
  at += 6;
  std::size_t open = s.rfind('[');
  if (open == std::string::npos || open < at || s.empty() || s.back() != ']') return false;
  std::size_t number = open + 1;
  long long line = 0;
  return SignedNumber(s, number, line) && number == s.size() - 1;
}

bool IsMessageLine(std::string const& s) { return s.compare(0, 5, " MSG:") == 0; }

// Lines of a file with look-ahead; the last line may lack its line feed.
// A line may be split where a record starts behind a torn one: both parts
// keep the number of the line they came from.
class Lines {
 public:
  explicit Lines(FILE* in) : _in(in) {}
  ~Lines() = default;
  Lines(Lines const&) = delete;
  Lines& operator=(Lines const&) = delete;

  // The line `k` ahead of the current one, or null at the end.
  std::string const* Peek(std::size_t k) {
    while (_ahead.size() <= k) {
      std::string line;
      if (!host::ReadLine(_in, line)) return nullptr;
      bool ended = !line.empty() && line.back() == '\n';
      if (ended) line.pop_back();
      // Records that other programs wrote may end their lines in CR LF.
      if (ended && !line.empty() && line.back() == '\r') line.pop_back();
      _ahead.push_back(Entry{line, ended, ++_read});
    }
    return &_ahead[k].text;
  }
  bool Ended(std::size_t k) { return Peek(k) != nullptr && _ahead[k].ended; }
  std::string Take() {
    Peek(0);
    std::string line = std::move(_ahead.front().text);
    _ahead.pop_front();
    return line;
  }
  // Number of the line that the next part taken comes from, from 1.
  long long Number() { return Peek(0) != nullptr ? _ahead.front().number : _read + 1; }
  // Line `k` ends at `at`; the rest becomes the line after it. Invalidates
  // what Peek returned.
  void Split(std::size_t k, std::size_t at) {
    Entry& e = _ahead[k];
    Entry rest{e.text.substr(at), e.ended, e.number};
    e.text.resize(at);
    e.ended = true;
    _ahead.insert(_ahead.begin() + static_cast<std::ptrdiff_t>(k) + 1, std::move(rest));
  }

 private:
  struct Entry {
    std::string text;
    bool ended;
    long long number;
  };
  FILE* _in;
  std::deque<Entry> _ahead;
  long long _read = 0;
};

bool IsDayAt(std::string const& s, std::size_t at) {
  for (char const* d : kDays)
    if (s.compare(at, 3, d) == 0) return true;
  return false;
}

// A write cut short leaves a line without its end, and the next record's
// first line is glued to it. Where in line `k` such a record starts (after
// its first byte): a time line that runs to the end of the line with the
// header and the message after it, or a header (a record without time)
// with the message after it. 0 when there is none, or when the line starts
// a record as it is.
std::size_t GluedStart(Lines& lines, std::size_t k) {
  std::string const* third = lines.Peek(k + 2);
  std::string const* next = lines.Peek(k + 1);
  std::string const* line = lines.Peek(k);
  if (line == nullptr || next == nullptr) return 0;
  Header h;
  Stamp t;
  bool timeFits = third != nullptr && IsMessageLine(*third) && ParseHeader(*next, h);
  bool headerFits = IsMessageLine(*next);
  // A line that starts a record as it is stays whole.
  if ((timeFits && ParseTimeLine(*line, t)) || (headerFits && ParseHeader(*line, h))) return 0;
  if (!timeFits && !headerFits) return 0;
  for (std::size_t at = 1; at < line->size(); ++at) {
    if (timeFits && IsDayAt(*line, at) && ParseTimeLine(line->substr(at), t)) return at;
    if (headerFits && line->compare(at, 2, " [") == 0 && ParseHeader(line->substr(at), h)) return at;
  }
  return 0;
}

// Whether a record starts `k` lines ahead: the time line (absent when the
// host could give no time), the header and the message's first line. A
// record glued to a torn line is split off it first, and so is one glued
// to the record's own first message line.
bool RecordAt(Lines& lines, std::size_t k, bool& hasTime) {
  if (std::size_t at = GluedStart(lines, k)) lines.Split(k, at);
  Stamp t;
  Header h;
  std::string const* first = lines.Peek(k);
  if (first == nullptr) return false;
  std::size_t message = 0;
  if (ParseTimeLine(*first, t)) {
    std::string const* second = lines.Peek(k + 1);
    std::string const* third = lines.Peek(k + 2);
    if (second != nullptr && third != nullptr && ParseHeader(*second, h) && IsMessageLine(*third)) message = k + 2;
  }
  hasTime = message != 0;
  if (!hasTime) {
    std::string const* second = lines.Peek(k + 1);
    if (ParseHeader(*first, h) && second != nullptr && IsMessageLine(*second)) message = k + 1;
  }
  if (message == 0) return false;
  if (std::size_t at = GluedStart(lines, message)) lines.Split(message, at);
  return true;
}

struct Filter {
  bool level = false, thread = false, since = false;
  long long maxLevel = 0;
  unsigned long threadId = 0;
  std::string grep;
  Stamp from;
};

int Show(Args const& args) {
  Options options;
  if (!options.Parse(kCommand, args, 1, {{"--level", true}, {"--thread", true}, {"--grep", true}, {"--since", true}}))
    return kBadUsage;
  if (options.operands.empty()) return UsageError(kCommand, "show needs a FILE");
  if (options.operands.size() > 1)
    return UsageError(kCommand, "show takes one FILE, not also '" + options.operands[1] + "'");
  std::string path = options.operands[0];
  Filter filter;
  for (std::string const a : {"--level", "--thread", "--grep", "--since"}) {
    std::string const* given = options.Value(a);
    if (given == nullptr) continue;
    std::string const& v = *given;
    if (a == "--level") {
      if (!ParseInteger(v, INT_MIN, INT_MAX, filter.maxLevel))
        return UsageError(kCommand, "--level needs a whole number");
      filter.level = true;
    } else if (a == "--thread") {
      std::string digits = v.compare(0, 2, "0x") == 0 || v.compare(0, 2, "0X") == 0 ? v.substr(2) : v;
      if (digits.empty() || digits.size() > 8 ||
          digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return UsageError(kCommand, "--thread needs a thread id in hexadecimal");
      filter.threadId = std::strtoul(digits.c_str(), nullptr, 16);
      filter.thread = true;
    } else if (a == "--grep") {
      filter.grep = v;
    } else {
      Stamp& f = filter.from;
      int year = 0;
      if (v.size() != 19 || v[4] != '-' || v[7] != '-' || v[10] != ' ' || v[13] != ':' || v[16] != ':' ||
          !Digits(v, 0, 4, year) || !Digits(v, 5, 2, f.month) || !Digits(v, 8, 2, f.day) ||
          !Digits(v, 11, 2, f.hour) || !Digits(v, 14, 2, f.minute) || !Digits(v, 17, 2, f.second) ||
          !IsRealTime(year, f))
        return UsageError(kCommand, "--since needs a local time as \"YYYY-MM-DD hh:mm:ss\"");
      f.year = year;
      filter.since = true;
    }
  }

  std::string why;
  FILE* in = host::OpenForReading(path, why);
  if (in == nullptr) return Failure(kCommand, "cannot read " + path + ": " + why);

  Lines lines(in);
  std::string problem;
  auto note = [&](std::string const& what) {
    if (problem.empty()) problem = what;
  };
  while (lines.Peek(0) != nullptr) {
    bool hasTime = false;
    if (!RecordAt(lines, 0, hasTime)) {
      long long number = lines.Number();
      note(path + ":" + std::to_string(number) + ": not in the record layout: \"" + Excerpt(lines.Take()) + "\"");
      continue;
    }
    long long start = lines.Number();
    std::string record;
    Stamp time;
    Header header;
    if (hasTime) {
      std::string t = lines.Take();
      ParseTimeLine(t, time);
      record += t + "\n";
    }
    std::string h = lines.Take();
    ParseHeader(h, header);
    record += h + "\n";
    bool firstEnded = lines.Ended(0);
    std::string first = lines.Take();
    record += first + (firstEnded ? "\n" : "");
    // The message runs to an empty line that the end of the file or the
    // next record follows; earlier empty lines belong to it.
    struct Part {
      std::string text;
      bool ended;
      long long line;
    };
    std::deque<Part> parts;
    bool closed = false;
    while (lines.Peek(0) != nullptr) {
      bool nextTime = false;
      if (lines.Peek(0)->empty() && lines.Ended(0) && (lines.Peek(1) == nullptr || RecordAt(lines, 1, nextTime))) {
        lines.Take();
        closed = true;
        break;
      }
      // A record that starts without the empty line before it: what was
      // read since the last empty line does not belong to this record.
      if (RecordAt(lines, 0, nextTime)) break;
      bool ended = lines.Ended(0);
      long long number = lines.Number();
      parts.push_back(Part{lines.Take(), ended, number});
    }
    if (!closed) {
      std::size_t end = parts.size();
      while (end > 0 && !(parts[end - 1].text.empty() && parts[end - 1].ended)) --end;
      if (end > 0 && end < parts.size()) {
        note(path + ":" + std::to_string(parts[end].line) + ": not in the record layout: \"" +
             Excerpt(parts[end].text) + "\"");
        parts.resize(end - 1);
        closed = true;
      } else if (end > 0) {
        parts.resize(end - 1);
        closed = true;
      } else {
        note(path + ":" + std::to_string(start) + ": the record that starts here does not end with an empty line");
      }
    }
    std::string message = first.substr(5);
    for (Part const& part : parts) {
      record += part.text + (part.ended ? "\n" : "");
      message += "\n" + part.text;
    }
    if (closed) record += "\n";

    bool keep = (!filter.level || header.level <= filter.maxLevel) &&
                (!filter.thread || header.thread == filter.threadId) &&
                (filter.grep.empty() || message.find(filter.grep) != std::string::npos) &&
                (!filter.since || (hasTime && !(time < filter.from)));
    if (keep) std::fwrite(record.data(), 1, record.size(), stdout);
  }
  std::fclose(in);
  if (!problem.empty()) {
    std::fflush(stdout);
    return Failure(kCommand, problem);
  }
  return kOk;
}

int Run(Args const& args) {
  if (args.empty()) return UsageError(kCommand, "write, where or show?");
  if (args[0] == "write") return Write(args);
  if (args[0] == "where") return Where(args);
  if (args[0] == "show") return Show(args);
  if (IsOption(args[0])) return UsageError(kCommand, "unknown option " + args[0]);
  return UsageError(kCommand, "unknown subcommand " + args[0]);
}

}  // namespace
}  // namespace kvos
