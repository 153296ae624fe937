// kvos process: starting, watching and stopping programs the library's way.
#include <cstdint>
#include <cstdio>
#include <string>

#include "OS/osprocess.h"
#include "OS/osthread.h"
#include "command.h"
#include "host.h"

namespace kvos {
namespace {

int Run(Args const& args);
std::size_t DataFrom(Args const& args);

Command const kCommand{
    "process", "start, watch and stop programs; the user and the temporary directory",
    "Usage: kvos process start [--wait] [--] PROGRAM [ARGUMENT...]\n"
    "       kvos process exists PID\n"
    "       kvos process kill [--force] PID\n"
    "       kvos process self | user | temp\n"
    "\n"
    "start   starts PROGRAM (found on PATH unless it holds a '/') in a new\n"
    "        session with the words after it as its arguments, and prints\n"
    "        its process id. Everything after PROGRAM belongs to the program,\n"
    "        options and --help included. Without --wait the program's\n"
    "        standard input, output and error are /dev/null, so that it does\n"
    "        not hold on to the caller's pipes (pid=$(kvos process start ...)\n"
    "        returns at once); to keep what it writes, start it through a\n"
    "        shell: kvos process start sh -c 'PROGRAM > FILE 2>&1'.\n"
    "        --wait  waits until the program has ended and exits with its\n"
    "                exit status, or with 128 + the signal number when a\n"
    "                signal ended it (as shells do). The program keeps the\n"
    "                tool's standard input, output and error, and the tool\n"
    "                prints no process id. The tool's own failures (exit\n"
    "                status 1 or 2) come with a message on standard error.\n"
    "exists  prints 'running' (exit 0) or 'not running' (exit 1).\n"
    "kill    stops the process at once. Process ids 0 and 1 and the tool's\n"
    "        own process are refused (exit status 2) unless --force is given.\n"
    "self    prints this tool's process id and thread id.\n"
    "user    prints the effective user's login name.\n"
    "temp    prints the directory for temporary files.\n"
    "\n"
    "On Windows, PROGRAM is found as the host finds programs (the tool's\n"
    "directory, the current and system directories, then PATH; .exe may be\n"
    "left out). It runs without a console and without the tool's handles,\n"
    "with or without --wait, so what it writes to the console is lost; with\n"
    "--wait the tool exits with the exit code as the host gives it (1 for a\n"
    "program that kill ended). kill ends a process through TerminateProcess.\n",
    Run, DataFrom};
KVOS_COMMAND(kCommand);

// After "start" and its options, the program and its arguments are data.
std::size_t DataFrom(Args const& args) {
  if (args.empty() || args[0] != "start") return args.size();
  for (std::size_t i = 1; i < args.size(); ++i)
    if (args[i] == "--" || !IsOption(args[i])) return i;
  return args.size();
}

bool ParsePid(std::string const& text, unsigned int& pid) {
  long long value = 0;
  if (!ParseInteger(text, 0, UINT32_MAX, value)) return false;
  pid = static_cast<unsigned int>(value);
  return true;
}

// One argument as the library's command-line splitting reads it back: in
// quotes when it is empty or holds a blank or a quote; a quote, and the
// backslashes before a quote or the closing quote, escaped.
std::string Quote(std::string const& word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    out += c;
    backslashes = 0;
  }
  out.append(2 * backslashes, '\\');
  return out + "\"";
}

int Start(Args const& args) {
  Options options;
  if (!options.Parse(kCommand, args, 1, {{"--wait", false}}, true)) return kBadUsage;
  Args const& words = options.operands;
  if (words.empty()) return UsageError(kCommand, "start needs a PROGRAM");
  std::string const& program = words[0];
  // The program name knows no escapes: quotes only group.
  if (program.empty() || program.find('"') != std::string::npos)
    return UsageError(kCommand, "a PROGRAM name must not be empty or hold a '\"'");
  std::string name = program.find_first_of(" \t") == std::string::npos ? program : "\"" + program + "\"";
  std::string arguments;
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (i > 1) arguments += ' ';
    arguments += Quote(words[i]);
  }

  bool wait = options.Has("--wait");
  Korvane::cKV_Error err;
  unsigned int pid = 0;
  if (wait) {
    pid = Korvane::osCreateProcess(&err, name.c_str(), arguments.c_str(), nullptr, nullptr, nullptr);
  } else {
    host::DetachedStdio detached;
    if (!detached.Ok()) return Failure(kCommand, std::string("cannot open ") + host::NullDevice() + " for the program");
    pid = Korvane::osCreateProcess(&err, name.c_str(), arguments.c_str(), nullptr, nullptr, nullptr);
  }
  if (pid == 0) return Failure(kCommand, static_cast<char const*>(err.GetText()));
  if (!wait) {
    std::printf("%u\n", pid);
    return kOk;
  }
  int code = 0;
  while (!Korvane::osGetProcessExitCode(pid, code)) {
    if (!Korvane::osIsProcessExist(pid) && !Korvane::osGetProcessExitCode(pid, code))
      return Failure(kCommand, "the exit status of process " + std::to_string(pid) + " is unknown");
    Korvane::osSleep(5);
  }
  return code;
}

int Kill(Args const& args) {
  Options options;
  if (!options.Parse(kCommand, args, 1, {{"--force", false}})) return kBadUsage;
  unsigned int pid = 0;
  if (options.operands.size() != 1 || !ParsePid(options.operands[0], pid))
    return UsageError(kCommand, "kill takes one process id");
  if (!options.Has("--force")) {
    if (pid == 0) return UsageError(kCommand, "process id 0 names no single process; --force passes it on");
    if (pid == 1) return UsageError(kCommand, "process 1 is the system's first process; --force stops it all the same");
    if (pid == Korvane::osGetCurrentProcessId())
      return UsageError(kCommand, "process " + options.operands[0] + " is this tool; --force stops it all the same");
  }
  Korvane::cKV_Error err;
  if (!Korvane::osKillProcess(&err, pid, 1)) return Failure(kCommand, static_cast<char const*>(err.GetText()));
  return kOk;
}

int Run(Args const& args) {
  if (args.empty()) return UsageError(kCommand, "missing subcommand");
  std::string const& what = args[0];
  if (what == "start") return Start(args);
  if (what == "kill") return Kill(args);
  Options options;
  if (!options.Parse(kCommand, args, 0, {})) return kBadUsage;
  Args const& words = options.operands;
  if (words.empty()) return UsageError(kCommand, "missing subcommand");
  if (words[0] == "exists") {
    unsigned int pid = 0;
    if (words.size() != 2 || !ParsePid(words[1], pid)) return UsageError(kCommand, "exists takes one process id");
    bool running = Korvane::osIsProcessExist(pid);
    std::printf("%s\n", running ? "running" : "not running");
    return running ? kOk : kFailed;
  }
  if (words[0] == "self" || words[0] == "user" || words[0] == "temp") {
    if (words.size() != 1) return UsageError(kCommand, words[0] + " takes no arguments");
  }
  if (words[0] == "self") {
    std::printf("process %u thread %u\n", Korvane::osGetCurrentProcessId(), Korvane::osGetCurrentThreadId());
    return kOk;
  }
  if (words[0] == "user") {
    Korvane::cKV_String user;
    if (!Korvane::osGetCurrentProcessUser(user)) return Failure(kCommand, "the user has no entry in the user database");
    std::printf("%s\n", static_cast<char const*>(user));
    return kOk;
  }
  if (words[0] == "temp") {
    std::printf("%s\n", static_cast<char const*>(Korvane::osGetTemp()));
    return kOk;
  }
  return UsageError(kCommand, "unknown subcommand '" + words[0] + "'");
}

}  // namespace
}  // namespace kvos
