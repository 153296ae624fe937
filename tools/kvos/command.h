// The kvos command registry. Each command lives in its own source file and
// registers itself with KVOS_COMMAND; sections of the default description
// register with KVOS_ABOUT.
#ifndef KVOS_COMMAND_H
#define KVOS_COMMAND_H

#include <string>
#include <vector>

namespace kvos {

using Args = std::vector<std::string>;

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;   // the operation failed
constexpr int kBadUsage = 2;  // the arguments are wrong

struct Command {
  char const* name;
  char const* summary;  // one line for the command list
  char const* usage;    // full help text, starting with the usage line(s)
  int (*run)(Args const& args);  // args after the command name
};

struct AboutSection {
  int order;  // sections print in increasing order
  void (*print)();
};

void Register(Command const* command);
void Register(AboutSection const* section);
std::vector<Command const*> const& Commands();

struct Registrar {
  explicit Registrar(Command const& command) { Register(&command); }
  explicit Registrar(AboutSection const& section) { Register(&section); }
};

// True when the arguments ask for help anywhere.
bool WantsHelp(Args const& args);
// Prints "kvos NAME: MESSAGE" and the usage to standard error; returns 2.
int UsageError(Command const& command, std::string const& message);
// Prints "kvos NAME: MESSAGE" to standard error; returns 1.
int Failure(Command const& command, std::string const& message);
// Prints the command's help to standard output; returns 0.
int PrintHelp(Command const& command);

// Parses a whole decimal (or 0x hexadecimal) integer into [min, max].
bool ParseInteger(std::string const& text, long long min, long long max, long long& value);

// The first 60 bytes of a line from a file, control bytes escaped, for
// quoting it in a message.
std::string Excerpt(std::string const& text);

}  // namespace kvos

#define KVOS_CONCAT2(a, b) a##b
#define KVOS_CONCAT(a, b) KVOS_CONCAT2(a, b)
#define KVOS_COMMAND(object) static ::kvos::Registrar KVOS_CONCAT(kvos_registrar_, __LINE__)(object)
#define KVOS_ABOUT(object) static ::kvos::Registrar KVOS_CONCAT(kvos_about_, __LINE__)(object)

#endif
