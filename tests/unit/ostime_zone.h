// Runs a scope in a fixed time zone (TZ), restoring the caller's zone after.
#ifndef KV_TESTS_UNIT_OSTIME_ZONE_H
#define KV_TESTS_UNIT_OSTIME_ZONE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace kvtest {

// Named zones come from tzdata (scripts/deps installs it). A missing zone
// file would make the C library run silently as UTC, so it fails the test.
class ScopedZone {
 public:
  explicit ScopedZone(char const* zone) {
    char const* dir = std::getenv("TZDIR");
    std::string path = std::string(dir != nullptr ? dir : "/usr/share/zoneinfo") + "/" + zone;
    if (!std::filesystem::is_regular_file(path))
      ADD_FAILURE() << "time zone " << zone << " is not installed (" << path << ")";
    if (char const* old = std::getenv("TZ")) _old = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedZone() {
    if (_old)
      setenv("TZ", _old->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  ScopedZone(ScopedZone const&) = delete;
  ScopedZone& operator=(ScopedZone const&) = delete;

 private:
  std::optional<std::string> _old;
};

}  // namespace kvtest

#endif
