// kvos b64: the library's compact base-64 text of 32-bit integers.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "OS/osstring.h"
#include "command.h"

namespace kvos {
namespace {

int Run(Args const& args);

Command const kCommand{
    "b64", "convert 32-bit integers to and from the base-64 number text",
    "Usage: kvos b64 encode N...\n"
    "       kvos b64 decode TEXT\n"
    "\n"
    "encode  prints each integer (-2147483648..4294967295; values above\n"
    "        2147483647 are taken as their 32-bit pattern) in base 64 over\n"
    "        the digits 0-9 A-Z a-z # $, separated by blanks.\n"
    "decode  prints, in decimal, every base-64 number in TEXT; numbers are\n"
    "        separated by any character that is not a digit. A TEXT without\n"
    "        a number, or with one of more than 6 digits or outside\n"
    "        -2147483648..2147483647 (which the library would split or wrap),\n"
    "        is refused (exit status 2).\n",
    Run};
KVOS_COMMAND(kCommand);

constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz#$";

int DigitValue(char c) {
  char const* at = c != '\0' ? std::strchr(kDigits, c) : nullptr;
  return at != nullptr ? static_cast<int>(at - kDigits) : -1;
}

int Encode(Args const& args) {
  if (args.size() < 2) return UsageError(kCommand, "encode needs at least one integer");
  std::string out;
  for (std::size_t i = 1; i < args.size(); ++i) {
    long long value = 0;
    if (!ParseInteger(args[i], INT32_MIN, UINT32_MAX, value))
      return UsageError(kCommand, "not a 32-bit integer: '" + args[i] + "'");
    char text[8];
    int length = Korvane::cKV_DataConv::LongToStr64(static_cast<int>(static_cast<unsigned int>(value)), text);
    if (!out.empty()) out += ' ';
    out.append(text, static_cast<std::size_t>(length));
  }
  std::printf("%s\n", out.c_str());
  return kOk;
}

int Decode(Args const& args) {
  if (args.size() != 2) return UsageError(kCommand, "decode takes exactly one TEXT");
  std::string const& text = args[1];
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    // The whole number as written, before the library reads at most 6
    // digits of it in 32 bits.
    bool negative = text[pos] == '-';
    std::size_t digits = negative ? pos + 1 : pos;
    unsigned long long magnitude = 0;
    std::size_t end = digits;
    for (; end < text.size() && DigitValue(text[end]) >= 0; ++end)
      if (end - digits < 7) magnitude = magnitude << 6 | static_cast<unsigned long long>(DigitValue(text[end]));
    if (end == digits) {
      ++pos;  // a separator, or a lone '-'
      continue;
    }
    std::string number = text.substr(pos, end - pos);
    if (end - digits > 6 || magnitude > (negative ? 0x80000000ULL : 0x7FFFFFFFULL))
      return UsageError(kCommand, "'" + number + "' is no base-64 number of 32 bits");
    int value = 0;
    int used = Korvane::cKV_DataConv::Str64ToLong(text.c_str() + pos, value);
    if (static_cast<std::size_t>(used) != end - pos)
      return Failure(kCommand, "the library reads '" + number + "' as " + std::to_string(used) + " characters");
    if (!out.empty()) out += ' ';
    out += std::to_string(value);
    pos = end;
  }
  if (out.empty()) return UsageError(kCommand, "no base-64 number in '" + text + "'");
  std::printf("%s\n", out.c_str());
  return kOk;
}

int Run(Args const& all) {
  Options options;
  if (!options.Parse(kCommand, all, 0, {})) return kBadUsage;
  Args const& args = options.operands;
  if (args.empty()) return UsageError(kCommand, "missing subcommand");
  if (args[0] == "encode") return Encode(args);
  if (args[0] == "decode") return Decode(args);
  return UsageError(kCommand, "unknown subcommand '" + args[0] + "'");
}

}  // namespace
}  // namespace kvos
