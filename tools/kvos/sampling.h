// The --interval and --count options of the sampling commands (load, proc).
#ifndef KVOS_SAMPLING_H
#define KVOS_SAMPLING_H

#include <string>

#include "command.h"

namespace kvos {

struct Sampling {
  long long intervalMs = 1000;
  long long count = 0;  // 0: until interrupted
};

// Reads the options from args[first..]; the operands are left in `rest`.
// False after a bad option was reported (status 2).
inline bool ParseSampling(Command const& command, Args const& args, std::size_t first, Sampling& sampling,
                          Args& rest) {
  Options options;
  if (!options.Parse(command, args, first, {{"--interval", true}, {"--count", true}})) return false;
  long long v = 0;
  if (std::string const* text = options.Value("--interval")) {
    if (!ParseInteger(*text, 1, 3600000, v)) {
      UsageError(command, "--interval takes milliseconds from 1 to 3600000, not '" + *text + "'");
      return false;
    }
    sampling.intervalMs = v;
  }
  if (std::string const* text = options.Value("--count")) {
    if (!ParseInteger(*text, 1, 1000000000, v)) {
      UsageError(command, "--count takes a number of samples from 1, not '" + *text + "'");
      return false;
    }
    sampling.count = v;
  }
  rest = options.operands;
  return true;
}

}  // namespace kvos

#endif
