// What the identifier suites ask of the host and of other processes.
#ifndef KV_TESTS_UNIT_OSUID_HELPERS_H
#define KV_TESTS_UNIT_OSUID_HELPERS_H

#include <string>
#include <vector>

#include "support/testing.h"

namespace uidtest {

// The process's id as the host itself tells it (support/<host>/uid.cpp).
unsigned int HostProcessId();

#ifdef KVOS_UID_PROBE_PATH
// Runs the identifier probe, a program linked with the shared library.
inline kvtest::RunResult RunProbe(std::vector<std::string> const& args) {
  std::vector<std::string> argv{KVOS_UID_PROBE_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return kvtest::Run(argv);
}
#endif

}  // namespace uidtest

#endif
