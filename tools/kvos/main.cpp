// kvos: the command-line face of the kv_Os library.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "OS/kv_Os.h"
#include "command.h"
#include "host.h"

namespace kvos {

namespace {

std::vector<Command const*>& CommandList() {
  static std::vector<Command const*> list;
  return list;
}

char const kCommonRules[] =
    "Options begin with \"--\"; an unknown option is refused. \"--\" ends the\n"
    "options: what follows is data even when it begins with \"--\".\n"
    "Exit status, unless a command's help says otherwise: 0 done; 1 the\n"
    "operation failed; 2 the command line cannot be used: an unknown command,\n"
    "subcommand or option, a missing or extra argument, or an argument whose\n"
    "text cannot be read (a number, a record, identifier, base-64 or address\n"
    "text, a time).\n";

std::vector<AboutSection const*>& AboutList() {
  static std::vector<AboutSection const*> list;
  return list;
}

void PrintCommandList(std::FILE* out) {
  std::fprintf(out, "Commands:\n");
  for (Command const* c : Commands()) std::fprintf(out, "  %-8s %s\n", c->name, c->summary);
  std::fprintf(out, "\nRun 'kvos COMMAND --help' for the usage of a command.\n");
}

void PrintAbout() {
  std::printf("kv_Os %s: the operating-system layer of the Korvane application framework.\n", KV_OS_VERSION_TEXT);
  std::printf("Strings, error records, time values, containers, configuration files, logs,\n"
              "files, threads, processes, sockets, data streams and system monitoring.\n");
  auto sections = AboutList();
  std::stable_sort(sections.begin(), sections.end(),
                   [](AboutSection const* a, AboutSection const* b) { return a->order < b->order; });
  for (AboutSection const* s : sections) {
    std::printf("\n");
    s->print();
  }
  std::printf("\n");
  PrintCommandList(stdout);
}

}  // namespace

void Register(Command const* command) {
  auto& list = CommandList();
  auto at = std::lower_bound(list.begin(), list.end(), command,
                             [](Command const* a, Command const* b) { return std::strcmp(a->name, b->name) < 0; });
  list.insert(at, command);
}

void Register(AboutSection const* section) { AboutList().push_back(section); }

std::vector<Command const*> const& Commands() { return CommandList(); }

bool IsOption(std::string const& arg) { return arg.size() > 2 && arg[0] == '-' && arg[1] == '-'; }

bool WantsHelp(Command const& command, Args const& args) {
  // "-h" only in first place: later it may be data (a base-64 text, say);
  // after "--" everything is data.
  if (!args.empty() && args[0] == "-h") return true;
  auto end = std::find(args.begin(), args.end(), "--");
  if (command.dataFrom != nullptr) {
    std::size_t from = command.dataFrom(args);
    if (from < static_cast<std::size_t>(end - args.begin())) end = args.begin() + static_cast<std::ptrdiff_t>(from);
  }
  return std::any_of(args.begin(), end, [](std::string const& a) { return a == "--help"; });
}

bool Options::Parse(Command const& command, Args const& args, std::size_t first, std::vector<OptionSpec> const& known,
                    bool untilOperand) {
  bool options = true;
  for (std::size_t i = first; i < args.size(); ++i) {
    std::string const& a = args[i];
    if (options && a == "--") {
      options = false;
      continue;
    }
    if (!options || !IsOption(a)) {
      operands.push_back(a);
      if (untilOperand) options = false;
      continue;
    }
    auto spec = std::find_if(known.begin(), known.end(), [&a](OptionSpec const& o) { return a == o.name; });
    if (spec == known.end()) {
      UsageError(command, "unknown option " + a);
      return false;
    }
    std::string value;
    if (spec->takesValue) {
      if (i + 1 >= args.size()) {
        UsageError(command, a + " needs a value");
        return false;
      }
      value = args[++i];
    }
    _given.emplace_back(a, value);
  }
  return true;
}

std::string const* Options::Value(std::string const& name) const {
  for (auto it = _given.rbegin(); it != _given.rend(); ++it)
    if (it->first == name) return &it->second;
  return nullptr;
}

int UsageError(Command const& command, std::string const& message) {
  std::fprintf(stderr, "kvos %s: %s\n\n%s", command.name, message.c_str(), command.usage);
  return kBadUsage;
}

int Failure(Command const& command, std::string const& message) {
  std::fprintf(stderr, "kvos %s: %s\n", command.name, message.c_str());
  return kFailed;
}

int PrintHelp(Command const& command) {
  std::printf("%s\n%s", command.usage, kCommonRules);
  return kOk;
}

bool ParseInteger(std::string const& text, long long min, long long max, long long& value) {
  // strtoll would skip leading white space, and the octal check below with it.
  if (text.empty() || !(text[0] == '-' || text[0] == '+' || (text[0] >= '0' && text[0] <= '9'))) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < min || v > max) return false;
  // strtoll's base 0 reads a leading 0 as octal; insist on plain decimal.
  std::size_t digits = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  if (text.size() > digits + 1 && text[digits] == '0' && text[digits + 1] != 'x' && text[digits + 1] != 'X')
    return false;
  value = v;
  return true;
}

}  // namespace kvos

namespace {

int RunTool(kvos::Args const& argv) {
  using namespace kvos;
  if (argv.size() < 2) {
    PrintAbout();
    return kOk;
  }
  std::string const& name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    std::printf("Usage: kvos [COMMAND [ARGS...]]\n\nWithout a command, kvos describes the library and the host.\n\n");
    PrintCommandList(stdout);
    std::printf("\n%s", kCommonRules);
    return kOk;
  }
  if (name == "--version") {
    std::printf("kvos %s\n", KV_OS_VERSION_TEXT);
    return kOk;
  }
  for (Command const* c : Commands()) {
    if (name == c->name) {
      Args args(argv.begin() + 2, argv.end());
      if (WantsHelp(*c, args)) return PrintHelp(*c);
      return c->run(args);
    }
  }
  std::fprintf(stderr, "kvos: unknown command '%s'\n\n", name.c_str());
  PrintCommandList(stderr);
  return kBadUsage;
}

}  // namespace

int main(int argc, char** argv) {
  int status = RunTool(kvos::host::Start(argc, argv));
  // Output that never arrived (a full disk, a closed standard output) must
  // not pass for success.
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "kvos: cannot write the output%s%s\n", errno != 0 ? ": " : "",
                 errno != 0 ? std::strerror(errno) : "");
    if (status == kvos::kOk) status = kvos::kFailed;
  }
  return status;
}
