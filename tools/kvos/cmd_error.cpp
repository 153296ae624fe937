// kvos error: error records in their text form, and host error texts.
#include <cstdint>
#include <cstdio>

#include "OS/oserror.h"
#include "command.h"

namespace kvos {
namespace {

int Run(Args const& args);

Command const kCommand{
    "error", "decode and encode error record texts; describe host error numbers",
    "Usage: kvos error decode TEXT\n"
    "       kvos error encode CODE LINE UNIT MESSAGE\n"
    "       kvos error sys NUMBER\n"
    "\n"
    "decode  prints the fields of an error record given in its text form\n"
    "        (code:line:unitLength:unit:messageLength:message); a text that\n"
    "        is no such record is refused (exit status 2).\n"
    "encode  prints the text form of a record with the given fields.\n"
    "sys     prints the host's description of an error number.\n"
    "\n"
    "On Windows the numbers are GetLastError() values and the descriptions\n"
    "the system's own messages.\n",
    Run};
KVOS_COMMAND(kCommand);

int Decode(Args const& args) {
  if (args.size() != 2) return UsageError(kCommand, "decode takes exactly one TEXT");
  Korvane::cKV_Error record;
  if (!record.FromString(args[1].c_str())) return UsageError(kCommand, "not an error record text: '" + args[1] + "'");
  std::printf("code: %d\nline: %d\nunit: %s\ntext: %s\n", record.GetCode(), record.GetLine(),
              static_cast<char const*>(record.GetUnit()), static_cast<char const*>(record.GetText()));
  return kOk;
}

int Encode(Args const& args) {
  if (args.size() != 5) return UsageError(kCommand, "encode takes CODE LINE UNIT MESSAGE");
  long long code = 0, line = 0;
  if (!ParseInteger(args[1], INT32_MIN, INT32_MAX, code)) return UsageError(kCommand, "CODE is not a 32-bit integer");
  if (!ParseInteger(args[2], INT32_MIN, INT32_MAX, line)) return UsageError(kCommand, "LINE is not a 32-bit integer");
  Korvane::cKV_Error record;
  record.Set(static_cast<int>(code), args[3].c_str(), static_cast<int>(line), args[4].c_str());
  std::printf("%s\n", static_cast<char const*>(record.ToString()));
  return kOk;
}

int Sys(Args const& args) {
  if (args.size() != 2) return UsageError(kCommand, "sys takes exactly one NUMBER");
  long long number = 0;
  if (!ParseInteger(args[1], INT32_MIN, INT32_MAX, number))
    return UsageError(kCommand, "NUMBER is not a 32-bit integer");
  Korvane::cKV_String text = Korvane::osGetSysErrorStr(static_cast<int>(number));
  if (text.Length() == 0) return Failure(kCommand, "the host does not describe error number " + args[1]);
  std::printf("%s\n", static_cast<char const*>(text));
  return kOk;
}

int Run(Args const& all) {
  Options options;
  if (!options.Parse(kCommand, all, 0, {})) return kBadUsage;
  Args const& args = options.operands;
  if (args.empty()) return UsageError(kCommand, "missing subcommand");
  if (args[0] == "decode") return Decode(args);
  if (args[0] == "encode") return Encode(args);
  if (args[0] == "sys") return Sys(args);
  return UsageError(kCommand, "unknown subcommand '" + args[0] + "'");
}

}  // namespace
}  // namespace kvos
