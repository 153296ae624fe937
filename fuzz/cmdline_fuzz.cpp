// Hostile command lines for the argument splitter of osCreateProcess.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "OS/internal/cmdline.h"

namespace {

std::vector<std::string> Split(char const* line) {
  std::size_t bytes = 0;
  int count = Korvane::internal::SplitCommandLine(line, nullptr, nullptr, bytes);
  if (count < 1) __builtin_trap();
  std::vector<char*> argv(static_cast<std::size_t>(count) + 1, nullptr);
  std::vector<char> text(bytes);
  std::size_t filled = 0;
  if (Korvane::internal::SplitCommandLine(line, argv.data(), text.data(), filled) != count || filled != bytes ||
      argv[static_cast<std::size_t>(count)] != nullptr)
    __builtin_trap();
  std::vector<std::string> args;
  std::size_t used = 0;
  for (int i = 0; i < count; ++i) {
    char* a = argv[static_cast<std::size_t>(i)];
    if (a < text.data() || a >= text.data() + text.size()) __builtin_trap();
    args.emplace_back(a);
    used += args.back().size() + 1;
  }
  if (used != bytes) __builtin_trap();
  return args;
}

// The inverse of the splitting rules for one argument.
std::string Quote(std::string const& arg) {
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') out.append(backslashes * 2 + 1, '\\');
    else out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string line(reinterpret_cast<char const*>(data), size);
  line = line.c_str();  // up to the first NUL, as a caller hands it over
  std::vector<std::string> args = Split(line.c_str());
  std::size_t chars = 0;
  for (auto const& a : args) chars += a.size();
  if (chars > line.size()) __builtin_trap();  // splitting never adds characters

  // Quoting the arguments again gives a line that splits into the same.
  std::string again = "\"" + args[0] + "\"";
  for (std::size_t i = 1; i < args.size(); ++i) again += " " + Quote(args[i]);
  if (Split(again.c_str()) != args) __builtin_trap();
  return 0;
}
