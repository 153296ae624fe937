// kvos process: starting, watching and stopping programs the library's way.
#include <cstdint>
#include <cstdio>
#include <string>

#include "OS/osprocess.h"
#include "OS/osthread.h"
#include "command.h"

namespace kvos {
namespace {

int Run(Args const& args);

Command const kCommand{
    "process", "start, watch and stop programs; the user and the temporary directory",
    "Usage: kvos process start [--wait] PROGRAM [ARGUMENTS]\n"
    "       kvos process exists PID\n"
    "       kvos process kill PID\n"
    "       kvos process self | user | temp\n"
    "\n"
    "start   starts PROGRAM (found on PATH unless it holds a '/') in a new\n"
    "        session and prints its process id. ARGUMENTS is one text that\n"
    "        is split into arguments at blanks; double quotes group, \\\" is a\n"
    "        literal quote. With --wait, waits until the program has ended.\n"
    "exists  prints 'running' (exit 0) or 'not running' (exit 1).\n"
    "kill    stops the process at once.\n"
    "self    prints this tool's process id and thread id.\n"
    "user    prints the effective user's login name.\n"
    "temp    prints the directory for temporary files.\n",
    Run};
KVOS_COMMAND(kCommand);

bool ParsePid(Args const& args, unsigned int& pid) {
  long long value = 0;
  if (args.size() != 2 || !ParseInteger(args[1], 0, UINT32_MAX, value)) return false;
  pid = static_cast<unsigned int>(value);
  return true;
}

int Start(Args const& args) {
  std::size_t at = 1;
  bool wait = at < args.size() && args[at] == "--wait";
  if (wait) ++at;
  if (at >= args.size() || args.size() > at + 2) return UsageError(kCommand, "start takes PROGRAM [ARGUMENTS]");
  char const* arguments = at + 1 < args.size() ? args[at + 1].c_str() : nullptr;
  Korvane::cKV_Error err;
  unsigned int pid = Korvane::osCreateProcess(&err, args[at].c_str(), arguments, nullptr, nullptr, nullptr);
  if (pid == 0) return Failure(kCommand, static_cast<char const*>(err.GetText()));
  std::printf("%u\n", pid);
  std::fflush(stdout);
  while (wait && Korvane::osIsProcessExist(pid)) Korvane::osSleep(10);
  return kOk;
}

int Run(Args const& args) {
  if (args.empty()) return UsageError(kCommand, "missing subcommand");
  std::string const& what = args[0];
  if (what == "start") return Start(args);
  if (what == "exists" || what == "kill") {
    unsigned int pid = 0;
    if (!ParsePid(args, pid)) return UsageError(kCommand, what + " takes one process id");
    if (what == "exists") {
      bool running = Korvane::osIsProcessExist(pid);
      std::printf("%s\n", running ? "running" : "not running");
      return running ? kOk : kFailed;
    }
    Korvane::cKV_Error err;
    if (!Korvane::osKillProcess(&err, pid, 1)) return Failure(kCommand, static_cast<char const*>(err.GetText()));
    return kOk;
  }
  if (args.size() != 1) return UsageError(kCommand, what + " takes no arguments");
  if (what == "self") {
    std::printf("process %u thread %u\n", Korvane::osGetCurrentProcessId(), Korvane::osGetCurrentThreadId());
    return kOk;
  }
  if (what == "user") {
    Korvane::cKV_String user;
    if (!Korvane::osGetCurrentProcessUser(user)) return Failure(kCommand, "the user has no entry in the user database");
    std::printf("%s\n", static_cast<char const*>(user));
    return kOk;
  }
  if (what == "temp") {
    std::printf("%s\n", static_cast<char const*>(Korvane::osGetTemp()));
    return kOk;
  }
  return UsageError(kCommand, "unknown subcommand '" + what + "'");
}

}  // namespace
}  // namespace kvos
