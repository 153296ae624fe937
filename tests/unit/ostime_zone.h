// Runs a scope in a fixed time zone, restoring the caller's zone after.
#ifndef KV_TESTS_UNIT_OSTIME_ZONE_H
#define KV_TESTS_UNIT_OSTIME_ZONE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

namespace kvtest {

// On Linux the zone is switched through TZ (named zones come from tzdata,
// which scripts/deps installs; a missing zone file fails the test, as the C
// library would silently run as UTC). Where a process's zone is fixed when
// it starts, the scope only tells whether the process runs in that zone:
// the test suite is run once per zone there.
class ScopedZone {
 public:
  explicit ScopedZone(char const* zone);
  ~ScopedZone();
  ScopedZone(ScopedZone const&) = delete;
  ScopedZone& operator=(ScopedZone const&) = delete;
  // Whether the scope runs in the zone asked for, and if not, why.
  bool Here() const { return _here; }
  std::string const& Why() const { return _why; }
  // Here(), saying why not where a loop goes on without this zone.
  bool HereOrSay() const {
    if (!_here) std::printf("[ NOT HERE ] %s\n", _why.c_str());
    return _here;
  }

 private:
  std::optional<std::string> _old;
  bool _here = true;
  std::string _why;
};

// The local calendar fields of `t` as the host's C library or calendar
// gives them, independently of the library.
bool HostLocalTime(long long t, std::tm& fields);

}  // namespace kvtest

// A zone for the rest of the block, or the test skips with the reason.
#define KV_ZONE(var, name)          \
  ::kvtest::ScopedZone var(name);   \
  if (!var.Here()) GTEST_SKIP() << var.Why()

#endif
