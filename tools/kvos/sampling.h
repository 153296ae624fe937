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

// Reads the options from args[first..]; anything else is left in `rest`.
// False with `message` set on a bad option.
inline bool ParseSampling(Args const& args, std::size_t first, Sampling& sampling, Args& rest,
                          std::string& message) {
  for (std::size_t i = first; i < args.size(); ++i) {
    std::string const& a = args[i];
    if (a == "--interval" || a == "--count") {
      if (i + 1 == args.size()) {
        message = a + " needs a value";
        return false;
      }
      long long v = 0;
      std::string const& text = args[++i];
      if (a == "--interval") {
        if (!ParseInteger(text, 1, 3600000, v)) {
          message = "--interval takes milliseconds from 1 to 3600000, not '" + text + "'";
          return false;
        }
        sampling.intervalMs = v;
      } else {
        if (!ParseInteger(text, 1, 1000000000, v)) {
          message = "--count takes a number of samples from 1, not '" + text + "'";
          return false;
        }
        sampling.count = v;
      }
    } else if (a.size() > 1 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9')) {
      message = "unknown option '" + a + "'";
      return false;
    } else {
      rest.push_back(a);
    }
  }
  return true;
}

}  // namespace kvos

#endif
