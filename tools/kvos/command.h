// The kvos command registry. Each command lives in its own source file and
// registers itself with KVOS_COMMAND; sections of the default description
// register with KVOS_ABOUT.
#ifndef KVOS_COMMAND_H
#define KVOS_COMMAND_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace kvos {

using Args = std::vector<std::string>;

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;   // the operation failed
constexpr int kBadUsage = 2;  // the command line cannot be used: unknown words, missing or unreadable arguments

struct Command {
  char const* name;
  char const* summary;  // one line for the command list
  char const* usage;    // full help text, starting with the usage line(s)
  int (*run)(Args const& args);  // args after the command name
  // Where the words that belong to the data begin (a program's arguments,
  // a message): no option and no help request is looked for from there.
  // Null: options may stand anywhere before "--".
  std::size_t (*dataFrom)(Args const& args) = nullptr;
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

// True when the arguments ask for help where an option may stand.
bool WantsHelp(Command const& command, Args const& args);
// Whether `arg` is written as an option ("--" and a name).
bool IsOption(std::string const& arg);
// Prints "kvos NAME: MESSAGE" and the usage to standard error; returns 2.
int UsageError(Command const& command, std::string const& message);
// Prints "kvos NAME: MESSAGE" to standard error; returns 1.
int Failure(Command const& command, std::string const& message);
// Prints the command's help, and the rules that all commands share, to
// standard output; returns 0.
int PrintHelp(Command const& command);

struct OptionSpec {
  char const* name;  // with its "--"
  bool takesValue;
};

// The options and operands of a command line. Options may stand anywhere
// before a "--", which ends them; with `untilOperand`, only before the first
// operand, so that everything from there on is data.
class Options {
 public:
  // Reads args[first..]. False after an unknown option or a missing value
  // was reported (status 2).
  bool Parse(Command const& command, Args const& args, std::size_t first, std::vector<OptionSpec> const& known,
             bool untilOperand = false);
  bool Has(std::string const& name) const { return Value(name) != nullptr; }
  // The last value given, or null.
  std::string const* Value(std::string const& name) const;

  Args operands;

 private:
  std::vector<std::pair<std::string, std::string>> _given;
};

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
