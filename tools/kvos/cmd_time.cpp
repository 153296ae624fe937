// kvos time: a time in every text form of the library.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "OS/ostime.h"
#include "command.h"
#include "host.h"

namespace kvos {
namespace {

int Run(Args const& args);

Command const kCommand{
    "time", "print the current time, or a given one, in every text form of the library",
    "Usage: kvos time [VALUE]\n"
    "\n"
    "Without VALUE, prints the current time; with VALUE, the time that many\n"
    "nanoseconds after 1970-01-01 00:00:00 UTC (decimal, or hexadecimal with\n"
    "0x, up to 18446744073709551615). Each line is labelled:\n"
    "\n"
    "  nanoseconds       the value itself\n"
    "  local             local date and time to the millisecond\n"
    "  from local        the value back from the local calendar fields (it\n"
    "                    differs only in the second pass through a repeated\n"
    "                    hour)\n"
    "  duration          the value as hours:minutes:seconds.nanoseconds\n"
    "  UTC time of day   hours:minutes:seconds of the UTC day (both while the\n"
    "                    seconds fit 32 bits, until 2106)\n"
    "  seconds+ms        the seconds-plus-milliseconds time in local time,\n"
    "                    when the seconds fit its signed 32 bits\n"
    "\n"
    "The current time also gets:\n"
    "  asctime           the current local time as a log record heads it\n"
    "  local short       the current local time as hh:mm:ss\n"
    "  whole seconds     the current time in whole seconds since 1970\n"
    "\n"
    "Local time is that of the TZ environment variable, else the system's zone.\n"
    "A TZ that names no zone file and is no zone rule (such as EST5EDT) is\n"
    "reported on standard error: the host then shows UTC under that name.\n"
    "\n"
    "On Windows local time is that of the system's time zone setting, whose\n"
    "name the first line shows; TZ is not used.\n",
    Run};
KVOS_COMMAND(kCommand);

bool ParseValue(std::string const& text, unsigned long long& value) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char const* digits = text.c_str() + (hex ? 2 : 0);
  // strtoull would take blanks, a sign and a negative count.
  if (*digits == '\0' || std::strchr("0123456789abcdefABCDEF", *digits) == nullptr) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoull(digits, &end, hex ? 16 : 10);
  return errno == 0 && *end == '\0';
}

void Line(char const* label, char const* text) { std::printf("%-17s %s\n", label, text); }

void PrintForms(Korvane::cKV_SysTime const& time) {
  std::printf("%-17s %llu\n", "nanoseconds", static_cast<unsigned long long>(time));
  Line("local", time.ToString());
  Korvane::cKV_DateTime fields;
  fields = time;
  Korvane::cKV_SysTime back;
  if (fields.ToSysTime(back))
    std::printf("%-17s %llu\n", "from local", static_cast<unsigned long long>(back));
  else
    Line("from local", "(the local fields do not convert back)");
  unsigned long long value = time;
  unsigned long long seconds = value / 1000000000ULL;
  // Both texts take the seconds in 32 bits: later times would print wrapped.
  if (seconds <= UINT32_MAX) {
    Line("duration", time.FormatTime());
    Line("UTC time of day", time.FormatTimeShort());
  } else {
    Line("duration", "(beyond its 32-bit seconds)");
    Line("UTC time of day", "(beyond its 32-bit seconds)");
  }
  if (seconds <= INT32_MAX)
    Line("seconds+ms", Korvane::tTimeb(static_cast<int>(seconds), static_cast<unsigned int>(value / 1000000ULL % 1000))
                           .ToString());
  else
    Line("seconds+ms", "(beyond its 32-bit seconds)");
}

int Run(Args const& all) {
  Options options;
  if (!options.Parse(kCommand, all, 0, {})) return kBadUsage;
  Args const& args = options.operands;
  if (args.size() > 1) return UsageError(kCommand, "at most one VALUE");
  if (args.size() == 1) {
    unsigned long long value = 0;
    if (!ParseValue(args[0], value))
      return UsageError(kCommand, "VALUE is not an unsigned 64-bit count of nanoseconds: '" + args[0] + "'");
    Line("time zone", host::ZoneLabel().c_str());
    PrintForms(Korvane::cKV_SysTime(value));
    return kOk;
  }

  // Each text reads the clock on its own: take them all within one second.
  for (int attempt = 0;; ++attempt) {
    Korvane::cKV_SysTime now;
    now.GetSysTime();
    Korvane::cKV_String text = Korvane::osGetLocalTimeStr();
    Korvane::cKV_String shortText = Korvane::osGetLocalShortTimeStr();
    unsigned int whole = Korvane::osGetSysTime();
    if (now.IsZero() || text.Length() == 0 || shortText.Length() == 0)
      return Failure(kCommand, "the host cannot give the current local time");
    if (whole != now.GetSeconds() && attempt < 2) continue;
    std::string asctimeText(text);
    if (!asctimeText.empty() && asctimeText.back() == '\n') asctimeText.pop_back();
    Line("time zone", host::ZoneLabel().c_str());
    PrintForms(now);
    Line("asctime", asctimeText.c_str());
    Line("local short", shortText);
    std::printf("%-17s %u\n", "whole seconds", whole);
    return kOk;
  }
}

}  // namespace
}  // namespace kvos
