// kvos uid: unique identifiers, new and taken apart.
#include <ctime>
#include <cstdio>
#include <string>

#include "OS/osuid.h"
#include "command.h"
#include "host.h"

namespace kvos {
namespace {

int Run(Args const& args);

Command const kCommand{
    "uid", "generate unique identifiers or take one apart",
    "Usage: kvos uid [N]\n"
    "       kvos uid parse TEXT\n"
    "\n"
    "uid [N]  prints N new identifiers (default 1, at most 100000), one per\n"
    "         line; a process makes at most one per millisecond.\n"
    "parse    prints the node, process id and time stamp (as local time) of\n"
    "         an identifier given in its text form (0x and 32 hex digits); a\n"
    "         text that is no identifier is refused (exit status 2).\n",
    Run};
KVOS_COMMAND(kCommand);

unsigned int Little(unsigned char const* b, int n) {
  unsigned int v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[i];
  return v;
}

int Parse(Args const& args) {
  if (args.size() != 2) return UsageError(kCommand, "parse takes exactly one TEXT");
  Korvane::cKV_Uid uid;
  if (!uid.FromString(args[1].c_str())) return UsageError(kCommand, "not an identifier text: '" + args[1] + "'");
  unsigned char const* b = uid.GetBuffer();
  unsigned int seconds = Little(b + 10, 4);
  unsigned int ms = Little(b + 14, 2);
  std::time_t t = static_cast<std::time_t>(static_cast<int>(seconds));
  std::tm local{};
  char when[64] = "?";
  if (host::LocalTime(t, local)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  std::printf("node:       %02x:%02x:%02x:%02x:%02x:%02x\n", b[0], b[1], b[2], b[3], b[4], b[5]);
  std::printf("process id: %u\n", Little(b + 6, 4));
  std::printf("time stamp: %s.%03u local time (%d s %u ms since 1970)\n", when, ms, static_cast<int>(seconds), ms);
  return kOk;
}

int Generate(Args const& args) {
  long long count = 1;
  if (args.size() > 1) return UsageError(kCommand, "uid takes at most one N");
  if (args.size() == 1 && !ParseInteger(args[0], 1, 100000, count))
    return UsageError(kCommand, "N must be a whole number from 1 to 100000");
  Korvane::cKV_Uid uid;
  for (long long i = 0; i < count; ++i) {
    uid.Generate();
    std::printf("%s\n", static_cast<char const*>(uid.ToString()));
  }
  return kOk;
}

int Run(Args const& all) {
  Options options;
  if (!options.Parse(kCommand, all, 0, {})) return kBadUsage;
  Args const& args = options.operands;
  if (!args.empty() && args[0] == "parse") return Parse(args);
  return Generate(args);
}

}  // namespace
}  // namespace kvos
